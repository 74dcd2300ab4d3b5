// The app data folder, the vault bindings, the wipe, the PIN attempt counter and the owner
// key file, driven through their handlers with the argument texts the page sends. Files are
// the real ones (in a private folder); the rest of the platform is the fake one. The
// Windows build runs the same cases on its own files, except those that need POSIX calls
// (other processes, file size limits, system call traces, pipes) or the XDG folders.
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <vector>

#include "app/platform/files.h"
#include "app/services/app_files.h"
#include "app/services/owner_key.h"
#include "app/services/pin_attempts.h"
#include "tests/services/fake_platform.h"
#include "tests/services/host_double.h"
#include "tests/services/test_env.h"
#include "tests/needs_tool.h"

static std::string folder_file(const char *name) { return app_path(name, ""); }

static void clear_folder(void) {
  for (const char *name : {"vault.json", "vault.json.tmp", "device.key", "attempts.txt",
                           "attempts.txt.tmp", "SHA256SUMS.txt", "x.part"}) {
    std::string path = folder_file(name);
    // A test may have left a folder in a file's place.
    if (!file_delete(path) && exists(path)) remove_tree(path);
  }
}

class Store : public ::testing::Test {
 protected:
  void SetUp() override {
    host_reset();
    clear_folder();
  }
};

#ifndef _WIN32
// --- first run: run in a fresh process, because the folder is fixed at the first request

static int first_run_child(const char *expected_folder) {
  std::string reply = call_binding_answered("msw_read_vault", "[]");
  if (reply != "null") return 2;
  if (mode_of(expected_folder) != 0700) return 3;
  return app_folder() == expected_folder ? 0 : 4;
}

static int run_first_run(const char *config_home, const std::string &expected) {
  pid_t pid = fork();
  if (pid == 0) {
    if (config_home) setenv("XDG_CONFIG_HOME", config_home, 1);
    else unsetenv("XDG_CONFIG_HOME");
    execl("/proc/self/exe", "store_test", "--first-run-child", expected.c_str(), (char *)nullptr);
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(AppFolder, FirstRequestMakesThePrivateFolderWithItsParents) {
  std::string config = test_home() + "/fresh/deeper/config";
  ASSERT_FALSE(exists(config));
  EXPECT_EQ(run_first_run(config.c_str(), config + "/mosswire"), 0);
}

TEST(AppFolder, UnsetOrRelativeConfigHomeFallsBackToHomeConfig) {
  EXPECT_EQ(run_first_run(nullptr, test_home() + "/.config/mosswire"), 0);
  remove_tree(test_home() + "/.config");
  EXPECT_EQ(run_first_run("relative/config", test_home() + "/.config/mosswire"), 0);
}

TEST(AppFolder, AnExistingLooseFolderIsTightened) {
  std::string config = test_home() + "/loose";
  mkdir(config.c_str(), 0755);
  mkdir((config + "/mosswire").c_str(), 0777);
  chmod((config + "/mosswire").c_str(), 0777);
  EXPECT_EQ(run_first_run(config.c_str(), config + "/mosswire"), 0);
}
#endif

// --- vault

TEST_F(Store, MissingVaultAnswersNull) { EXPECT_EQ(call_binding_answered("msw_read_vault", "[]"), "null"); }

TEST_F(Store, VaultRoundTripsTextThatNeedsEscaping) {
  // The page sends its header as one JSON string argument.
  EXPECT_EQ(call_binding_answered("msw_write_vault", "[\"{\\\"v\\\":1,\\\"s\\\":\\\"a\\\\\\\\b\\\"}\\n\xc3\xa9\"]"),
            "true");
  EXPECT_EQ(read_text(folder_file("vault.json")), "{\"v\":1,\"s\":\"a\\\\b\"}\n\xc3\xa9");
  EXPECT_EQ(call_binding_answered("msw_read_vault", "[]"),
            "\"{\\\"v\\\":1,\\\"s\\\":\\\"a\\\\\\\\b\\\"}\\u000a\xc3\xa9\"");
  EXPECT_EQ(mode_of(folder_file("vault.json")), 0600u);
  EXPECT_EQ(mode_of(app_folder()), 0700u);
  EXPECT_FALSE(exists(folder_file("vault.json.tmp")));
}

TEST_F(Store, EmptyVaultFileAnswersTheEmptyString) {
  ASSERT_TRUE(write_text(folder_file("vault.json"), ""));
  EXPECT_EQ(call_binding_answered("msw_read_vault", "[]"), "\"\"");
}

TEST_F(Store, WriteWithoutTextAnswersFalseAndCreatesNothing) {
  EXPECT_EQ(call_binding_answered("msw_write_vault", "[]"), "false");
  EXPECT_EQ(call_binding_answered("msw_write_vault", "{}"), "false");
  EXPECT_EQ(call_binding_answered("msw_write_vault", "[\"unterminated"), "false");
  EXPECT_EQ(call_binding_answered("msw_write_vault", ""), "false");
  EXPECT_FALSE(exists(folder_file("vault.json")));
}

TEST_F(Store, NonStringArgumentsAreStoredAsTheirRawTextAndZeroEndsTheText) {
  EXPECT_EQ(call_binding_answered("msw_write_vault", "[null]"), "true");
  EXPECT_EQ(read_text(folder_file("vault.json")), "null");
  EXPECT_EQ(call_binding_answered("msw_write_vault", "[\"ab\\u0000cd\"]"), "true");
  EXPECT_EQ(read_text(folder_file("vault.json")), "ab");
}

TEST_F(Store, ReplaceThatCannotMoveKeepsTheTargetAndRemovesTheTemporaryFile) {
  // A folder in the vault's place makes the final rename fail.
  std::string target = folder_file("vault.json");
  ASSERT_TRUE(folder_make(target, 0700));
  ASSERT_TRUE(write_text(target + "/keep", "old"));
  EXPECT_EQ(call_binding_answered("msw_write_vault", "[\"new\"]"), "false");
  EXPECT_EQ(read_text(target + "/keep"), "old");
  EXPECT_FALSE(exists(folder_file("vault.json.tmp")));
  EXPECT_EQ(call_binding_answered("msw_read_vault", "[]"), "null");
}

#ifndef _WIN32
TEST_F(Store, ALeftoverTemporaryNameIsReplacedNeverWrittenThrough) {
  std::string elsewhere = test_home() + "/elsewhere.txt";
  ASSERT_TRUE(write_text(elsewhere, "someone else's file"));
  ASSERT_EQ(symlink(elsewhere.c_str(), folder_file("vault.json.tmp").c_str()), 0);
  EXPECT_EQ(call_binding_answered("msw_write_vault", "[\"mine\"]"), "true");
  EXPECT_EQ(read_text(elsewhere), "someone else's file");
  EXPECT_EQ(read_text(folder_file("vault.json")), "mine");
  ASSERT_TRUE(write_text(folder_file("vault.json.tmp"), "half a vault from a crash"));
  chmod(folder_file("vault.json.tmp").c_str(), 0644);
  EXPECT_EQ(call_binding_answered("msw_write_vault", "[\"again\"]"), "true");
  EXPECT_EQ(read_text(folder_file("vault.json")), "again");
  EXPECT_EQ(mode_of(folder_file("vault.json")), 0600u);
}

TEST_F(Store, WriteThatRunsOutOfSpaceKeepsTheOldVault) {
  ASSERT_EQ(call_binding_answered("msw_write_vault", "[\"old contents\"]"), "true");
  // A file size limit makes write() fail part way, as a full disk would.
  struct rlimit saved, small;
  getrlimit(RLIMIT_FSIZE, &saved);
  small = saved;
  small.rlim_cur = 4;
  signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  std::string reply = call_binding_answered("msw_write_vault", "[\"new and longer contents\"]");
  setrlimit(RLIMIT_FSIZE, &saved);
  EXPECT_EQ(reply, "false");
  EXPECT_EQ(read_text(folder_file("vault.json")), "old contents");
  EXPECT_FALSE(exists(folder_file("vault.json.tmp")));
}

// The power-cut rule, seen from the system calls: the data is synced before the rename
// and the folder after it.
TEST_F(Store, WriteSyncsTheDataBeforeTheRenameAndTheFolderAfterIt) {
  MSW_NEEDS(system("command -v strace >/dev/null 2>&1") == 0, "strace");
  std::string log = test_home() + "/strace.txt";
  std::string command = "strace -f -qq -e trace=openat,fsync,rename -o " + log +
                        " /proc/" + std::to_string(getpid()) + "/exe --write-vault-child";
  ASSERT_EQ(system(command.c_str()), 0);
  std::string text = read_text(log), tmp = folder_file("vault.json.tmp");
  std::vector<std::string> lines;
  for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
    lines.push_back(text.substr(at, end - at));
  auto find_line = [&](size_t from, const std::string &part) {
    for (size_t i = from; i < lines.size(); i++)
      if (lines[i].find(part) != std::string::npos) return i;
    return lines.size();
  };
  auto result_of = [&](size_t i) { return lines[i].substr(lines[i].rfind("= ") + 2); };
  size_t open_tmp = find_line(0, "\"" + tmp + "\", O_WRONLY|O_CREAT");
  ASSERT_LT(open_tmp, lines.size()) << text;
  size_t sync_tmp = find_line(open_tmp, "fsync(" + result_of(open_tmp) + ")");
  size_t rename = find_line(open_tmp, "rename(\"" + tmp + "\", \"" + folder_file("vault.json") + "\")");
  size_t open_folder = find_line(rename, "\"" + app_folder() + "\", O_RDONLY|O_CLOEXEC|O_DIRECTORY");
  if (open_folder == lines.size())
    open_folder = find_line(rename, "\"" + app_folder() + "\", O_RDONLY|O_DIRECTORY");
  ASSERT_LT(open_folder, lines.size()) << text;
  size_t sync_folder = find_line(open_folder, "fsync(" + result_of(open_folder) + ")");
  EXPECT_LT(sync_tmp, rename) << text;
  EXPECT_LT(rename, sync_folder) << text;
  EXPECT_LT(sync_folder, lines.size()) << text;
  EXPECT_EQ(read_text(folder_file("vault.json")), "durable");
}
#endif

// The writes run on a worker: answers come in the order asked, a small write queued behind
// a large running one lands after it, and a read queued behind them sees the last.
TEST_F(Store, QueuedVaultWritesLandAndAnswerInTheOrderAsked) {
  std::string large(8 * 1024 * 1024, 'x');
  std::string first = call_binding_async("msw_write_vault", ("[\"" + large + "\"]").c_str());
  std::string second = call_binding_async("msw_write_vault", "[\"small and last\"]");
  std::string read = call_binding_async("msw_read_vault", "[]");
  EXPECT_EQ(wait_reply(read), "\"small and last\"");
  EXPECT_EQ(wait_reply(first), "true");
  EXPECT_EQ(wait_reply(second), "true");
  std::vector<std::string> order;
  for (auto &r : host.replies)
    if (r.first == first || r.first == second || r.first == read) order.push_back(r.first);
  EXPECT_EQ(order, (std::vector<std::string>{first, second, read}));
  EXPECT_EQ(read_text(folder_file("vault.json")), "small and last");
  EXPECT_FALSE(exists(folder_file("vault.json.tmp")));
}

// The worker keeps the buffers of earlier writes for later ones: a short text written
// after a long one, with escapes to decode, is stored exactly, with nothing of the long one.
TEST_F(Store, AWriteAfterALongerOneStoresExactlyItsOwnText) {
  std::string long_text(3 * 1024 * 1024, 'L');
  for (int round = 0; round < 3; round++) {
    ASSERT_EQ(call_binding_answered("msw_write_vault", ("[\"" + long_text + "\"]").c_str()), "true");
    EXPECT_EQ(read_text(folder_file("vault.json")).size(), long_text.size());
    ASSERT_EQ(call_binding_answered("msw_write_vault", "[\"a\\\"b\\n\\u00e9\\\\\"]"), "true");
    EXPECT_EQ(read_text(folder_file("vault.json")), "a\"b\n\xc3\xa9\\");
    EXPECT_EQ(call_binding_answered("msw_read_vault", "[]"), "\"a\\\"b\\u000a\xc3\xa9\\\\\"");
  }
  // A write without its text answers false and leaves the file alone, whatever buffer it got.
  EXPECT_EQ(call_binding_answered("msw_write_vault", "[]"), "false");
  EXPECT_EQ(read_text(folder_file("vault.json")), "a\"b\n\xc3\xa9\\");
}

// A write the page asked for before the wipe must not bring the vault back after it.
TEST_F(Store, WipeWaitsForQueuedWritesAndLeavesNoVault) {
  std::string large(8 * 1024 * 1024, 'y');
  std::string write = call_binding_async("msw_write_vault", ("[\"" + large + "\"]").c_str());
  std::string late = call_binding_async("msw_write_vault", "[\"queued behind\"]");
  EXPECT_EQ(call_binding_answered("msw_wipe", "[]"), "true");
  // Both writes were answered before the wipe's own answer.
  ASSERT_GE(host.replies.size(), 3u);
  EXPECT_EQ(host.replies[host.replies.size() - 3].first, write);
  EXPECT_EQ(host.replies[host.replies.size() - 2].first, late);
  EXPECT_FALSE(exists(folder_file("vault.json")));
  EXPECT_FALSE(exists(folder_file("vault.json.tmp")));
}

#ifndef _WIN32
// A process killed at any moment of a save, on the worker or between saves, leaves one
// whole vault: the one before or the one it was writing.
static int write_vault_loop_child(void) {
  std::string a = "[\"" + std::string(1 << 20, 'a') + "\"]", b = "[\"" + std::string(1 << 20, 'b') + "\"]";
  for (int i = 0;; i++) {
    std::string id = call_binding_async("msw_write_vault", (i % 2 ? b : a).c_str());
    if (i % 3 == 0) wait_reply(id);  // sometimes a queue builds up, sometimes not
  }
}

TEST_F(Store, AVaultWriterKilledAtAnyMomentLeavesAWholeVault) {
  const std::string whole_a(1 << 20, 'a'), whole_b(1 << 20, 'b');
  ASSERT_EQ(call_binding_answered("msw_write_vault", ("[\"" + whole_a + "\"]").c_str()), "true");
  std::string self = "/proc/" + std::to_string(getpid()) + "/exe";
  for (int round = 0; round < 6; round++) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      execl(self.c_str(), self.c_str(), "--write-vault-loop", (char *)nullptr);
      _exit(127);
    }
    usleep(30000 + round * 37000);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer ended on its own: " << status;
    std::string now = read_text(folder_file("vault.json"));
    EXPECT_TRUE(now == whole_a || now == whole_b) << "round " << round << ": " << now.size() << " bytes";
  }
}

TEST_F(Store, VaultOfTwoGibibytesOrAFolderAnswersNull) {
  std::string path = folder_file("vault.json");
  ASSERT_TRUE(write_text(path, ""));
  ASSERT_EQ(truncate(path.c_str(), (off_t)INT_MAX + 1), 0);  // sparse, takes no space
  EXPECT_EQ(call_binding_answered("msw_read_vault", "[]"), "null");
  ASSERT_EQ(truncate(path.c_str(), (off_t)3), 0);
  EXPECT_EQ(call_binding_answered("msw_read_vault", "[]"), "\"\\u0000\\u0000\\u0000\"");
  unlink(path.c_str());
  mkdir(path.c_str(), 0700);
  EXPECT_EQ(call_binding_answered("msw_read_vault", "[]"), "null");
  rmdir(path.c_str());
  // A pipe in the vault's place must not hang the window waiting for a writer.
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  EXPECT_EQ(call_binding_answered("msw_read_vault", "[]"), "null");
  unlink(path.c_str());
}
#endif

// --- wipe

TEST_F(Store, WipeErasesThisDevicesDataInOrderAndLeavesTheRest) {
  for (const char *name : {"vault.json", "vault.json.tmp", "device.key", "attempts.txt",
                           "SHA256SUMS.txt", "x.part"})
    ASSERT_TRUE(write_text(folder_file(name), "x"));
  std::string owner = test_home() + "/.mosswire";
  ASSERT_TRUE(folder_make(owner, 0700));
  ASSERT_TRUE(write_text(owner + "/owner.json", "{}"));
  ASSERT_EQ(call_binding("msw_startup", "[true]"), "true");
  ASSERT_TRUE(fake.run_at_login);

  EXPECT_EQ(call_binding("msw_wipe", "[]"), "true");
  for (const char *name : {"vault.json", "vault.json.tmp", "device.key", "attempts.txt"})
    EXPECT_FALSE(exists(folder_file(name))) << name;
  for (const char *name : {"SHA256SUMS.txt", "x.part"}) EXPECT_TRUE(exists(folder_file(name))) << name;
  EXPECT_TRUE(exists(owner + "/owner.json"));
  EXPECT_TRUE(exists(app_folder()));
  EXPECT_FALSE(fake.run_at_login);
  ASSERT_EQ(host.blackout_names.size(), 1u);
  EXPECT_EQ(host.blackout_names[0], "");
  EXPECT_EQ(host.blackout_action, nullptr);
}

TEST_F(Store, WipeWithNothingPresentStillAnswersTrue) {
  EXPECT_EQ(call_binding("msw_wipe", "[]"), "true");
  EXPECT_EQ(call_binding("msw_wipe", "garbage"), "true");
}

// --- PIN attempts

TEST(Attempts, RecordScansLikeScanf) {
  struct {
    const char *text;
    int count;
    long long wait;
  } cases[] = {{"", 0, 0},          {"7", 7, 0},           {"abc 5", 0, 0},
               {"3 xyz", 3, 0},     {" 5\n 123", 5, 123},  {"-2 5", -2, 5},
               {"4 0", 4, 0},       {"12 1700000000000", 12, 1700000000000LL},
               {"99999999999 1", INT_MAX, 1}, {"+6 -7", 6, -7}};
  for (auto &c : cases) {
    attempt_record r = parse_attempts(c.text);
    EXPECT_EQ(r.count, c.count) << c.text;
    EXPECT_EQ(r.wait_until, c.wait) << c.text;
  }
  EXPECT_EQ(format_attempts({12, 1700000000000LL}), "12 1700000000000");
}

TEST(Attempts, WaitDoublesFromTheFifthWrongPinUpToAnHour) {
  const long long expected[] = {0,      0,      0,       0,       30000,   60000,   120000,
                                240000, 480000, 960000, 1920000, 3600000, 3600000, 3600000};
  attempt_record r = {0, 0};
  const long long now = 1000000;
  for (int i = 0; i < 14; i++) {
    r = next_attempts(r, false, now);
    EXPECT_EQ(r.count, i + 1);
    EXPECT_EQ(attempts_wait(r, now), expected[i]) << "wrong PIN " << i + 1;
  }
  r = next_attempts(r, true, now);
  EXPECT_EQ(r.count, 0);
  EXPECT_EQ(r.wait_until, 0);
  EXPECT_EQ(next_attempts({INT_MAX, 0}, false, now).count, INT_MAX);
}

TEST_F(Store, PinBindingsCountAcrossCallsInTheFile) {
  EXPECT_EQ(call_binding("msw_pin_start", "[]"), "0");
  for (int i = 0; i < 4; i++) EXPECT_EQ(call_binding("msw_pin_result", "[false]"), "null");
  EXPECT_EQ(read_text(folder_file("attempts.txt")), "4 0");
  EXPECT_EQ(call_binding("msw_pin_start", "[]"), "0");

  long long before = now_ms();
  EXPECT_EQ(call_binding("msw_pin_result", "[1]"), "null");  // 1 is not true
  long long wait = atoll(call_binding("msw_pin_start", "[]").c_str());
  EXPECT_GT(wait, 29000);
  EXPECT_LE(wait, 30000);
  attempt_record r = parse_attempts(read_text(folder_file("attempts.txt")));
  EXPECT_EQ(r.count, 5);
  EXPECT_GE(r.wait_until, before + 30000);

  EXPECT_EQ(call_binding("msw_pin_result", "[\"true\"]"), "null");  // the string counts
  EXPECT_EQ(read_text(folder_file("attempts.txt")), "0 0");
  EXPECT_EQ(call_binding("msw_pin_result", "[true]"), "null");
  EXPECT_EQ(read_text(folder_file("attempts.txt")), "0 0");
  EXPECT_EQ(call_binding("msw_pin_result", "[]"), "null");  // missing counts as wrong
  EXPECT_EQ(read_text(folder_file("attempts.txt")), "1 0");
}

TEST_F(Store, PinWaitFollowsTheStoredTime) {
  long long now = now_ms();
  write_text(folder_file("attempts.txt"), "9 " + std::to_string(now - 5000));
  EXPECT_EQ(call_binding("msw_pin_start", "[]"), "0");
  // A clock set back leaves the whole difference to wait.
  write_text(folder_file("attempts.txt"), "9 " + std::to_string(now + 86400000LL));
  long long wait = atoll(call_binding("msw_pin_start", "[]").c_str());
  EXPECT_GT(wait, 86400000LL - 5000);
  EXPECT_LE(wait, 86400000LL);
  write_text(folder_file("attempts.txt"), "words");
  EXPECT_EQ(call_binding("msw_pin_start", "[]"), "0");
  write_text(folder_file("attempts.txt"), "7");
  EXPECT_EQ(call_binding("msw_pin_result", "[false]"), "null");
  EXPECT_EQ(parse_attempts(read_text(folder_file("attempts.txt"))).count, 8);
  EXPECT_EQ(call_binding("msw_pin_result", "[false]"), "null");
  long long big = atoll(call_binding("msw_pin_start", "[]").c_str());
  EXPECT_GT(big, 480000 - 5000);  // the ninth wrong PIN: 8 minutes
  EXPECT_LE(big, 480000);
  EXPECT_EQ(call_binding("msw_wipe", "[]"), "true");
  EXPECT_EQ(call_binding("msw_pin_start", "[]"), "0");
  EXPECT_FALSE(exists(folder_file("attempts.txt")));
}

// --- owner key file

static std::string repeat(char c, size_t n) { return std::string(n, c); }

TEST(OwnerKey, FieldSearchKeepsTheLengthBounds) {
  std::string v;
  EXPECT_FALSE(find_owner_field("{\"sigPub\":\"" + repeat('A', 87) + "\"}", "sigPub", 88, 88, &v));
  EXPECT_FALSE(find_owner_field("{\"sigPub\":\"" + repeat('A', 89) + "\"}", "sigPub", 88, 88, &v));
  ASSERT_TRUE(find_owner_field("{\"sigPub\":\"" + repeat('A', 88) + "\"}", "sigPub", 88, 88, &v));
  EXPECT_EQ(v, repeat('A', 88));
  EXPECT_FALSE(find_owner_field("{\"sigPriv\":\"" + repeat('b', 99) + "\"}", "sigPriv", 100, 400, &v));
  EXPECT_TRUE(find_owner_field("{\"sigPriv\":\"" + repeat('b', 100) + "\"}", "sigPriv", 100, 400, &v));
  EXPECT_TRUE(find_owner_field("{\"sigPriv\":\"" + repeat('b', 400) + "\"}", "sigPriv", 100, 400, &v));
  EXPECT_FALSE(find_owner_field("{\"sigPriv\":\"" + repeat('b', 401) + "\"}", "sigPriv", 100, 400, &v));
}

TEST(OwnerKey, FieldSearchIsPlainTextWithItsKnownQuirks) {
  std::string v, key = repeat('K', 88);
  // sigPubOld is another field; spacing and order do not matter.
  ASSERT_TRUE(find_owner_field("{\"sigPubOld\":\"" + repeat('O', 88) + "\" ,\n  \"sigPub\"  :   \"" +
                                   key + "\"}",
                               "sigPub", 88, 88, &v));
  EXPECT_EQ(v, key);
  // A non-string value makes the next field's name the value, which fails the bounds.
  EXPECT_FALSE(find_owner_field("{\"sigPub\":null,\"sigPriv\":\"" + repeat('p', 200) + "\"}",
                                "sigPub", 88, 88, &v));
  // Only the first 8191 bytes count.
  std::string far = "{\"pad\":\"" + repeat(' ', 8200) + "\",\"sigPriv\":\"" + repeat('p', 200) + "\"}";
  EXPECT_FALSE(find_owner_field(far, "sigPriv", 100, 400, &v));
  std::string edge = "{\"sigPriv\":\"" + repeat('p', 200) + "\"}";
  edge = repeat(' ', 8191 - edge.size()) + edge;
  EXPECT_TRUE(find_owner_field(edge, "sigPriv", 100, 400, &v));
  EXPECT_TRUE(find_owner_field(" " + edge, "sigPriv", 100, 400, &v));  // quote at byte 8191
  EXPECT_FALSE(find_owner_field("  " + edge, "sigPriv", 100, 400, &v));
  EXPECT_FALSE(find_owner_field("{\"sigPub\":\"" + key, "sigPub", 88, 88, &v));
}

TEST_F(Store, OwnerBindingsReadTheHomeFileAndNeverWriteIt) {
  std::string folder = test_home() + "/.mosswire", file = folder + "/owner.json";
  file_delete(file);
  EXPECT_EQ(call_binding("msw_owner_key", "[]"), "null");
  EXPECT_EQ(call_binding("msw_owner_secret", "[]"), "null");
  ASSERT_TRUE(folder_make(folder, 0700));
  std::string pub = repeat('Q', 86) + "==", priv = "MIGH" + repeat('z', 180);
  std::string content = "{\n  \"sigPriv\": \"" + priv + "\",\n  \"sigPub\": \"" + pub + "\"\n}\n";
  ASSERT_TRUE(write_text(file, content));
  EXPECT_EQ(call_binding("msw_owner_key", "[]"), "\"" + pub + "\"");
  EXPECT_EQ(call_binding("msw_owner_secret", "[]"), "\"" + priv + "\"");
  EXPECT_EQ(read_text(file), content);
#ifndef _WIN32
  unlink(file.c_str());
  ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);
  EXPECT_EQ(call_binding("msw_owner_key", "[]"), "null");
  unlink(file.c_str());
  std::string saved = getenv("HOME");
  unsetenv("HOME");
  EXPECT_EQ(call_binding("msw_owner_key", "[]"), "null");
  setenv("HOME", saved.c_str(), 1);
#endif
}

int main(int argc, char **argv) {
#ifndef _WIN32
  if (argc == 3 && std::string(argv[1]) == "--first-run-child") return first_run_child(argv[2]);
  if (argc == 2 && std::string(argv[1]) == "--write-vault-loop") return write_vault_loop_child();
  if (argc == 2 && std::string(argv[1]) == "--write-vault-child")
    return call_binding_answered("msw_write_vault", "[\"durable\"]") == "true" ? 0 : 1;
#endif
  isolate_environment(false);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
