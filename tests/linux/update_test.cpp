// Self-update on the real Linux layer: msw_update end to end against a real local HTTP
// server whose lists the real sha256sum wrote and the owner's tool signed (node
// tools/owner.js sign, with the tests' owner key), through libcurl and libcrypto, and the
// install step (the POSIX swap and the relaunch) run by a real program (update_probe) from
// a temporary folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "app/platform/download.h"
#include "app/platform/process.h"
#include "app/services/app_files.h"
#include "app/services/update.h"
#include "tests/services/host_double.h"
#include "tests/services/test_env.h"

extern char **environ;

static const char start_error[] = "{\"err\":\"Couldn't start the update.\"}";
static const char download_error[] = "{\"err\":\"Couldn't download the update.\"}";
static const char no_checksum[] =
    "{\"err\":\"That release has no checksum for this computer's download.\"}";
static const char mismatch[] =
    "{\"err\":\"The download didn't match its checksum, so it wasn't installed.\"}";
static const char unsigned_release[] =
    "{\"err\":\"The update's signature is missing, so it wasn't installed.\"}";
static const char damaged_signature[] =
    "{\"err\":\"The update's signature is damaged, so it wasn't installed.\"}";
static const char forged_signature[] =
    "{\"err\":\"The update isn't signed by this network's owner, so it wasn't installed.\"}";

// The release asset the Linux build fetches.
static const char name[] = "mosswire-linux-x86_64";

// --- a local release host

struct release_host {
  pid_t pid = 0;
  int stdin_fd = -1;
  int port = 0;
  std::string root;
  std::string asset;  // the release's executable, bytes
};

static release_host server;

static std::string base(const char *mode = "") {
  return "http://127.0.0.1:" + std::to_string(server.port) + mode;
}

// A home whose owner key file is a copy of `owner`, or a fresh one when that is empty.
static std::string owner_home(const char *folder, const char *owner) {
  std::string home = make_folder(folder);
  run_command("mkdir -p " + home + "/.mosswire");
  if (*owner)
    write_text(home + "/.mosswire/owner.json", read_text(owner));
  else
    run_command("HOME=" + home + " MOSSWIRE_OWNER_CERT_FILE=" + home + "/cert.json node " MSW_REPO_DIR
                "/tools/owner.js init >/dev/null");
  return home;
}

static std::string owner_key_of(const std::string &home) {
  std::string key = run_command("HOME=" + home + " node " MSW_REPO_DIR "/tools/owner.js key");
  while (!key.empty() && key.back() == '\n') key.pop_back();
  return key;
}

// The owner's tool signing a release's list, as the release command does.
static std::string sign_with(const std::string &home) {
  return "HOME=" + home + " node " MSW_REPO_DIR "/tools/owner.js sign SHA256SUMS.txt >/dev/null";
}

static std::string owner_signs, stranger_signs;

// The release's files, its list made by list_command; signed by the tests' owner unless
// sign_command says otherwise ("" for no signature at all).
static void make_release(const char *tag, const std::string &list_command, bool asset = true,
                         const char *sign_command = nullptr) {
  std::string dir = server.root + "/releases/download/" + tag;
  run_command("mkdir -p " + dir);
  write_text(dir + "/other.txt", "another file of the release\n");
  if (asset) write_text(dir + "/" + name, server.asset);
  if (!list_command.empty()) run_command("cd " + dir + " && " + list_command);
  std::string sign = sign_command ? sign_command : owner_signs;
  if (!list_command.empty() && !sign.empty()) run_command("cd " + dir + " && " + sign);
}

static void start_server(void) {
  server.root = make_folder("releases");
  server.asset = read_text(MSW_PROBE_PATH) + "\n#release build\n";
  owner_signs = sign_with(owner_home("owner", MSW_TEST_OWNER_FILE));
  stranger_signs = sign_with(owner_home("stranger", ""));
  std::string n = name;
  std::string listed = "sha256sum " + n + " > SHA256SUMS.txt";
  make_release("v1.0.0", "sha256sum other.txt " + n + " > SHA256SUMS.txt");
  make_release("v1.0.1", "sha256sum --binary " + n + " other.txt > SHA256SUMS.txt");
  make_release("v1.0.2", "sha256sum " + n + " > SHA256SUMS.txt && printf x >> " + n);
  make_release("v1.0.3", "sha256sum other.txt > SHA256SUMS.txt");
  make_release("v1.0.4", "");
  make_release("v1.0.5", "sha256sum other.txt " + n + " > SHA256SUMS.txt && rm " + n);
  make_release("v1.0.6", "sha256sum " + n + " | sed 's/  / /' > SHA256SUMS.txt");
  make_release("v1.0.7", "sha256sum " + n + " | sed 's/^[0-9a-f]*/\\U&/' > SHA256SUMS.txt");
  // The signature: none, by another owner key, cut short, or over a list changed since.
  make_release("v1.1.0", listed, true, "");
  make_release("v1.1.1", listed, true, stranger_signs.c_str());
  make_release("v1.1.2", listed, true, (owner_signs + " && truncate -s 40 SHA256SUMS.txt.sig").c_str());
  make_release("v1.1.3", listed, true, (owner_signs + " && echo >> SHA256SUMS.txt").c_str());
  // A list of the right asset whose signature is another file's.
  make_release("v1.1.4", listed, true, "cp ../v1.0.0/SHA256SUMS.txt.sig .");
  int in[2], out[2];
  ASSERT_EQ(pipe(in), 0);
  ASSERT_EQ(pipe(out), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, in[1]);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  std::string script = MSW_SOURCE_DIR "/release_server.py";
  char *argv[] = {(char *)"/usr/bin/python3", (char *)script.c_str(), (char *)server.root.c_str(),
                  nullptr};
  ASSERT_EQ(posix_spawn(&server.pid, argv[0], &actions, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  server.stdin_fd = in[1];
  char line[32] = {0};
  FILE *port = fdopen(out[0], "r");
  ASSERT_NE(fgets(line, sizeof line, port), nullptr);
  fclose(port);
  server.port = atoi(line);
  ASSERT_GT(server.port, 0);
}

static void stop_server(void) {
  if (server.stdin_fd >= 0) close(server.stdin_fd);  // the server ends when stdin closes
  if (server.pid <= 0) return;
  for (int i = 0; i < 50; i++) {
    if (waitpid(server.pid, nullptr, WNOHANG) == server.pid) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  kill(server.pid, SIGKILL);
  waitpid(server.pid, nullptr, 0);
}

class Update : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { start_server(); }
  static void TearDownTestSuite() { stop_server(); }
  void SetUp() override {
    ASSERT_GT(server.port, 0);
    host_reset();
    update_source_setting().base = base();
    update_source_setting().limits = {5, 2, 0};
    update_source_setting().owner_key = MSW_TEST_OWNER_KEY;
    delete_app_file(name);
  }
  // The reply of one msw_update, waiting for its worker; "<...>" texts on trouble.
  std::string update(const char *tag, const char *id_args = nullptr) {
    std::string args = id_args ? id_args : std::string("[\"") + tag + "\"]";
    std::string now = call_binding("msw_update", args.c_str());
    if (now != "<no reply>") return now;
    if (!host_wait_dispatched(60000)) return "<no result>";
    return host.replies.back().second;
  }
  void expect_nothing_left(void) {
    for (const char *file : {"SHA256SUMS.txt", "SHA256SUMS.txt.part", "SHA256SUMS.txt.sig",
                             "SHA256SUMS.txt.sig.part", "mosswire-linux-x86_64.part"})
      EXPECT_FALSE(exists(app_path(file, ""))) << file;
  }
};

TEST_F(Update, FailuresAnswerTheirErrorAndLeaveNothingBehind) {
  ASSERT_FALSE(update_is_ready());
  EXPECT_EQ(call_binding("msw_update_install", "[]"), "\"none\"");

  EXPECT_EQ(update("v1.0.2"), mismatch);  // one byte added after listing
  EXPECT_FALSE(exists(app_path(name, "")));
  EXPECT_EQ(update("v1.0.3"), no_checksum);  // no line for our file
  EXPECT_EQ(update("v1.0.6"), no_checksum);  // a single space before the name
  EXPECT_EQ(update("v1.0.4"), download_error);  // no list at all
  EXPECT_EQ(update("v1.0.5"), download_error);  // listed, but the file is missing
  EXPECT_EQ(update("v9.9.9"), download_error);
  expect_nothing_left();
  EXPECT_FALSE(exists(app_path(name, "")));

  update_source_setting().base = base("/stall");  // a server that stops answering
  EXPECT_EQ(update("v1.0.0"), download_error);
  update_source_setting().base = "http://127.0.0.1:1";  // nothing listens there
  EXPECT_EQ(update("v1.0.0"), download_error);
  expect_nothing_left();
  EXPECT_FALSE(update_is_ready());
  EXPECT_EQ(call_binding("msw_update_install", "[]"), "\"none\"");
}

// Nothing is installed unless the tests' owner signed exactly this list; the asset is not
// even fetched.
TEST_F(Update, OnlyAListTheOwnerSignedIsTrusted) {
  for (auto [tag, why] : {std::pair<const char *, const char *>{"v1.1.0", unsigned_release},
                          {"v1.1.1", forged_signature},
                          {"v1.1.2", damaged_signature},
                          {"v1.1.3", forged_signature},
                          {"v1.1.4", forged_signature}})
    EXPECT_EQ(update(tag), why) << tag;
  EXPECT_FALSE(exists(app_path(name, "")));
  expect_nothing_left();
  EXPECT_FALSE(update_is_ready());
  // Checked against another owner's key, the owner's own release is refused too.
  update_source_setting().owner_key = owner_key_of(test_home() + "/stranger");
  EXPECT_EQ(update("v1.0.0"), forged_signature);
  update_source_setting().owner_key = MSW_TEST_OWNER_KEY;
  EXPECT_EQ(update("v1.0.0"), "{\"ok\":true}");
}

TEST_F(Update, TagsAndIdsAreCheckedBeforeAnythingStarts) {
  for (const char *args : {"[]", "{}", "[\"v1.2\"]", "[\"v1.2.3.4\"]", "[\"v1.2.3x\"]",
                           "[\"V1.2.3\"]", "[\"v1.2.33333\"]", "[\"\"]", "[1.2]", "[\"v1.0.0"})
    EXPECT_EQ(call_binding("msw_update", args), start_error) << args;
  std::string id(64, 'a');
  msw_handler handler = binding_handler("msw_update");
  handler(id.c_str(), "[\"v1.0.0\"]", nullptr);
  ASSERT_EQ(host.replies.size(), (size_t)11);
  EXPECT_EQ(host.replies.back().first, id);
  EXPECT_EQ(host.replies.back().second, start_error);
  EXPECT_EQ(host_run_dispatched(), 0);
}

TEST_F(Update, OneUpdateAtATime) {
  update_source_setting().base = base("/stall");
  EXPECT_EQ(call_binding("msw_update", "[\"v1.0.0\"]"), "<no reply>");
  EXPECT_EQ(call_binding("msw_update", "[\"v1.0.1\"]"), start_error);
  ASSERT_TRUE(host_wait_dispatched(60000));
  EXPECT_EQ(host.replies.back().second, download_error);
  update_source_setting().base = base();
  EXPECT_EQ(update("v1.0.3"), no_checksum);
}

TEST_F(Update, VerifiedDownloadsFromListsOfBothModesAndThroughRedirects) {
  EXPECT_EQ(update("v1.0.0"), "{\"ok\":true}");  // text mode, another file listed first
  EXPECT_EQ(read_text(app_path(name, "")), server.asset);
  EXPECT_EQ(mode_of(app_path(name, "")), 0600u);
  expect_nothing_left();
  delete_app_file(name);
  EXPECT_EQ(update("v1.0.1"), "{\"ok\":true}");  // binary mode
  EXPECT_EQ(update("v1.0.7"), "{\"ok\":true}");  // upper-case digits
  update_source_setting().base = base("/redirect");
  delete_app_file(name);
  EXPECT_EQ(update("v1.0.0"), "{\"ok\":true}");
  EXPECT_EQ(read_text(app_path(name, "")), server.asset);
  expect_nothing_left();
  EXPECT_TRUE(update_is_ready());
  // A later failure does not take back the verified file's readiness, but does drop it.
  EXPECT_EQ(update("v1.0.2"), mismatch);
  EXPECT_FALSE(exists(app_path(name, "")));
}

TEST_F(Update, AFailedDownloadKeepsTheOldFileAndLeavesNoPart) {
  std::string target = test_home() + "/target", part = target + ".part";
  ASSERT_TRUE(write_text(target, "old"));
  ASSERT_TRUE(write_text(part, "stale"));
  EXPECT_FALSE(download_file(base("/missing"), target, part, {5, 2, 0}));
  EXPECT_EQ(read_text(target), "old");
  EXPECT_FALSE(exists(part));
  EXPECT_TRUE(download_file(base("/releases/download/v1.0.0/other.txt"), target, part, {5, 2, 0}));
  EXPECT_EQ(read_text(target), "another file of the release\n");
  // A body beyond its bound fails like any other broken download.
  EXPECT_FALSE(download_file(base("/releases/download/v1.0.0/other.txt"), target, part, {5, 2, 10}));
  EXPECT_EQ(read_text(target), "another file of the release\n");
  EXPECT_FALSE(exists(part));
}

// --- installing, run by a real program from a temporary folder

struct probe_answer {
  std::string result, install;
  int terminated = -1;
};

static probe_answer run_probe(const std::string &program, const std::string &extra,
                              const char *tags = "v1.0.0") {
  std::string out = run_command(program + " update " + base() + " " + tags + " " + extra);
  probe_answer a;
  size_t first = out.find('\n'), second = out.find('\n', first + 1);
  if (second == std::string::npos) return a;
  a.result = out.substr(0, first);
  a.install = out.substr(first + 1, second - first - 1);
  a.terminated = atoi(out.c_str() + second + 1);
  return a;
}

static std::string wait_for_file(const std::string &path) {
  for (int i = 0; i < 300 && !exists(path); i++)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  return read_text(path);
}

TEST_F(Update, InstallSwapsRelaunchesWithTheSwitchAndTheNewCopyRemovesTheOld) {
  std::string folder = make_folder("installed"), program = folder + "/mosswire";
  std::string old_bytes = read_text(MSW_PROBE_PATH) + "\n#running build\n";
  ASSERT_TRUE(write_text(program, old_bytes));
  chmod(program.c_str(), 0750);
  std::string report = test_home() + "/after-update.txt";
  setenv("MSW_PROBE_OUT", report.c_str(), 1);

  probe_answer a = run_probe(program, "");
  EXPECT_EQ(a.result, "{\"ok\":true}");
  EXPECT_EQ(a.install, "\"quit\"");
  EXPECT_EQ(a.terminated, 1);
  EXPECT_EQ(read_text(program), server.asset);
  EXPECT_EQ(mode_of(program), 0750u);
  EXPECT_FALSE(exists(app_path(name, "")));  // moved, not copied

  EXPECT_EQ(wait_for_file(report), "--after-update\n" + program + "\nold-present\nold-removed\nlock-released\n");
  EXPECT_FALSE(exists(program + ".old"));
}

// The program's folder on another file system than the app data folder: no rename can
// cross, so the verified file is copied into place beside the program.
TEST_F(Update, InstallAcrossFileSystemsCopiesTheFileIntoPlace) {
  char pattern[] = "/dev/shm/msw-install-XXXXXX";
  struct stat here, there;
  if (!mkdtemp(pattern)) GTEST_SKIP() << "no /dev/shm";
  std::string folder = pattern, program = folder + "/mosswire";
  if (stat(folder.c_str(), &there) != 0 || stat(app_path("", "").c_str(), &here) != 0 ||
      here.st_dev == there.st_dev) {
    remove_tree(folder);
    GTEST_SKIP() << "/dev/shm is on the same file system";
  }
  ASSERT_TRUE(write_text(program, read_text(MSW_PROBE_PATH)));
  chmod(program.c_str(), 0755);
  std::string report = test_home() + "/after-update-shm.txt";
  setenv("MSW_PROBE_OUT", report.c_str(), 1);
  probe_answer a = run_probe(program, "");
  EXPECT_EQ(a.result, "{\"ok\":true}");
  EXPECT_EQ(a.install, "\"quit\"");
  EXPECT_EQ(read_text(program), server.asset);
  EXPECT_EQ(mode_of(program), 0755u);
  EXPECT_FALSE(exists(program + ".new"));
  EXPECT_FALSE(exists(app_path(name, "")));
  EXPECT_EQ(wait_for_file(report), "--after-update\n" + program + "\nold-present\nold-removed\nlock-released\n");
  remove_tree(folder);
}

TEST_F(Update, ALaterDownloadThatFailsItsCheckLeavesNothingToInstall) {
  std::string folder = make_folder("second"), program = folder + "/mosswire";
  std::string old_bytes = read_text(MSW_PROBE_PATH);
  ASSERT_TRUE(write_text(program, old_bytes));
  chmod(program.c_str(), 0755);
  probe_answer a = run_probe(program, "", "v1.0.0,v1.0.2");
  EXPECT_EQ(a.result, mismatch);
  EXPECT_EQ(a.install, "\"none\"");
  EXPECT_EQ(a.terminated, 0);
  EXPECT_EQ(read_text(program), old_bytes);
  EXPECT_FALSE(exists(program + ".old"));
  EXPECT_FALSE(exists(app_path(name, "")));
}

// Where this user can't change the program (here root without its power over folders), the
// release is not even fetched: the page is told where to get it, once for the version.
TEST_F(Update, AFolderTheUserCannotWriteGetsTheNoticeAndNothingIsFetched) {
  std::string folder = make_folder("readonly"), program = folder + "/mosswire";
  std::string old_bytes = read_text(MSW_PROBE_PATH);
  ASSERT_TRUE(write_text(program, old_bytes));
  chmod(program.c_str(), 0755);
  chmod(folder.c_str(), 0555);
  delete_app_file("update-notice.txt");
  std::string tagged = "{\"notice\":\"protected\",\"url\":\"" + base() + "/releases/tag/v1.0.0\",\"told\":";
  probe_answer first = run_probe(program, "--drop-dac"), second = run_probe(program, "--drop-dac");
  chmod(folder.c_str(), 0755);
  EXPECT_EQ(first.result, tagged + "false}");
  EXPECT_EQ(second.result, tagged + "true}");
  EXPECT_EQ(second.install, "\"none\"");
  EXPECT_EQ(read_text(program), old_bytes);
  EXPECT_FALSE(exists(app_path(name, "")));
  expect_nothing_left();
}

TEST_F(Update, TheLinuxRuleForWhoMayReplaceTheProgram) {
  EXPECT_EQ(executable_replacer("/usr/bin/mosswire"), owner_package_manager);
  EXPECT_EQ(executable_replacer("/usr/lib/mosswire/mosswire"), owner_package_manager);
  std::string program = make_folder("replacer") + "/mosswire";
  ASSERT_TRUE(write_text(program, "x"));
  EXPECT_EQ(executable_replacer(program), owner_self);
  EXPECT_EQ(executable_replacer(program + "-missing"), owner_nobody);
  EXPECT_EQ(executable_replacer("mosswire"), owner_nobody);  // not an absolute path
  EXPECT_EQ(executable_replacer(""), owner_nobody);
}

// The folder became read-only between the download and the install: nothing is changed
// and the verified file is shown to move by hand.
TEST_F(Update, ASwapThatFailsAfterTheDownloadShowsTheFile) {
  std::string folder = make_folder("locked-later"), program = folder + "/mosswire";
  std::string old_bytes = read_text(MSW_PROBE_PATH) + "\n#running build\n";
  ASSERT_TRUE(write_text(program, old_bytes));
  chmod(program.c_str(), 0755);
  chmod(folder.c_str(), 0555);
  // No file manager answers on D-Bus here, so the folder goes to xdg-open.
  std::string bin = make_folder("fakebin"), opened = test_home() + "/xdg-open.txt";
  write_text(bin + "/xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > " + opened + "\n");
  chmod((bin + "/xdg-open").c_str(), 0755);
  std::string path = getenv("PATH");
  setenv("PATH", (bin + ":" + path).c_str(), 1);

  probe_answer a = run_probe(program, "--drop-dac-to-install");
  setenv("PATH", path.c_str(), 1);
  chmod(folder.c_str(), 0755);
  EXPECT_EQ(a.result, "{\"ok\":true}");
  EXPECT_EQ(a.install, "\"manual\"");
  EXPECT_EQ(a.terminated, 0);
  EXPECT_EQ(read_text(program), old_bytes);
  EXPECT_FALSE(exists(program + ".old"));
  EXPECT_EQ(read_text(app_path(name, "")), server.asset);  // waits to be moved by hand
  EXPECT_EQ(wait_for_file(opened), app_path("", "").substr(0, app_path("", "").size() - 1));
}

int main(int argc, char **argv) {
  isolate_environment(false);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
