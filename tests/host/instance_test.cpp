// The single-instance rule with real processes: each test gets its own runtime folder.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "app/host/command_line.h"
#include "process_util.h"

namespace {

std::string probe_path;

struct probe {
  pid_t pid = -1;
  int out = -1;
  probe(const temp_home &home, int hold_ms, std::vector<std::string> args = {},
        std::vector<std::string> extra_env = {}) {
    std::vector<std::string> argv = {probe_path, std::to_string(hold_ms)};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> env = home.env();
    env.insert(env.end(), extra_env.begin(), extra_env.end());
    pid = spawn_program(argv, env, &out);
  }
  ~probe() {
    kill_and_reap(pid);
    close_reader(out);
  }
  std::string line(const std::string &prefix, int timeout_ms = 10000) { return read_line_with(out, prefix, timeout_ms); }
};

TEST(SingleInstance, ASecondStartEndsAtOnceAndShowsTheFirst) {
  temp_home home;
  probe first(home, 20000);
  ASSERT_EQ(first.line("first"), "first");
  double start = monotonic_ms();
  probe second(home, 20000, {}, {"DESKTOP_STARTUP_ID=launch-42"});
  EXPECT_EQ(second.line("other"), "other");
  EXPECT_EQ(wait_exit(second.pid, 5000), 0);
  EXPECT_LT(monotonic_ms() - start, 3000);
  EXPECT_EQ(first.line("show"), "show launch-42");
  EXPECT_EQ(wait_exit(first.pid, 0), -1) << "the first copy must keep running";
  probe wayland(home, 20000, {}, {"DESKTOP_STARTUP_ID=", "XDG_ACTIVATION_TOKEN=token-7"});
  EXPECT_EQ(wayland.line("other"), "other");
  EXPECT_EQ(first.line("show"), "show token-7");

  // Unrelated arguments and look-alikes of the switch do not make a second copy wait.
  for (const char *arg : {"--After-Update", "--after-update=1", "-after-update", "x"}) {
    probe other(home, 20000, {arg});
    EXPECT_EQ(other.line("", 5000), "other") << arg;
    EXPECT_EQ(wait_exit(other.pid, 5000), 0) << arg;
  }
}

TEST(SingleInstance, AfterUpdateWaitsForTheOldCopyToEnd) {
  temp_home home;
  probe old_copy(home, 1500);
  ASSERT_EQ(old_copy.line("first"), "first");
  double start = monotonic_ms();
  probe updated(home, 100, {"a", "--after-update", "b"});
  EXPECT_EQ(updated.line("", 15000), "first");
  double waited = monotonic_ms() - start;
  EXPECT_GE(waited, 800) << "the new copy did not wait";
  EXPECT_LT(waited, 10000);
  EXPECT_EQ(wait_exit(old_copy.pid, 5000), 0);
  EXPECT_EQ(wait_exit(updated.pid, 5000), 0);
}

TEST(SingleInstance, AfterUpdateGivesUpAfterThirtySecondsAndShowsTheOldCopy) {
  temp_home home;
  probe old_copy(home, 60000);
  ASSERT_EQ(old_copy.line("first"), "first");
  double start = monotonic_ms();
  probe updated(home, 100, {"--after-update"});
  EXPECT_EQ(updated.line("", 45000), "other");
  double waited = monotonic_ms() - start;
  EXPECT_GE(waited, 29000);
  EXPECT_LT(waited, 40000);
  EXPECT_EQ(wait_exit(updated.pid, 5000), 0);
  EXPECT_EQ(old_copy.line("show"), "show ");
}

TEST(SingleInstance, AStaleLockFromAKilledCopyDoesNotBlock) {
  temp_home home;
  {
    probe killed(home, 60000);
    ASSERT_EQ(killed.line("first"), "first");
    kill(killed.pid, SIGKILL);
    EXPECT_EQ(wait_exit(killed.pid, 5000), -2);
  }
  probe next(home, 2000);
  EXPECT_EQ(next.line("first"), "first");
  // Its show socket replaced the dead one's: a later start reaches it.
  probe later(home, 100);
  EXPECT_EQ(later.line(""), "other");
  EXPECT_EQ(next.line("show"), "show ");
}

TEST(SingleInstance, LockAndSocketArePrivate) {
  temp_home home;
  probe first(home, 20000);
  ASSERT_EQ(first.line("first"), "first");
  struct stat st;
  ASSERT_EQ(stat((home.dir + "/mosswire-running.lock").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 077, 0u);
  ASSERT_EQ(stat((home.dir + "/mosswire-show").c_str(), &st), 0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode));
  EXPECT_EQ(st.st_mode & 077, 0u);
}

TEST(SingleInstance, AnUntrustedRuntimeFolderFallsBackToAPrivateOne) {
  temp_home home;
  chmod(home.dir.c_str(), 0777);  // open to everyone: not used for the lock
  std::string fallback = "/tmp/mosswire-" + std::to_string(getuid());
  probe first(home, 20000);
  std::string outcome = first.line("");
  if (outcome == "other") GTEST_SKIP() << "a copy of mosswire on this machine holds " << fallback;
  ASSERT_EQ(outcome, "first");
  struct stat st;
  EXPECT_NE(stat((home.dir + "/mosswire-running.lock").c_str(), &st), 0);
  ASSERT_EQ(stat((fallback + "/mosswire-running.lock").c_str(), &st), 0);
  ASSERT_EQ(stat(fallback.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 077, 0u);
  chmod(home.dir.c_str(), 0700);
}

TEST(CommandLine, TheSwitchCountsInAnyPositionAndOnlyExactly) {
  char prog[] = "mosswire", sw[] = "--after-update", other[] = "x", upper[] = "--After-Update",
       longer[] = "--after-updates";
  char *a1[] = {prog, other, sw};
  char *a2[] = {prog, sw};
  char *a3[] = {prog, upper, longer};
  char *a4[] = {sw};  // the program name itself does not count
  EXPECT_TRUE(has_after_update(3, a1));
  EXPECT_TRUE(has_after_update(2, a2));
  EXPECT_FALSE(has_after_update(3, a3));
  EXPECT_FALSE(has_after_update(1, a4));
}

}  // namespace

int main(int argc, char **argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc > 1) probe_path = argv[1];
  return RUN_ALL_TESTS();
}
