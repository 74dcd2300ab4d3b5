// The single-instance rule with real processes under Wine: this program starts copies
// of itself in the probe role, which run the check as the program's first step does.
//
//   win_instance_test --probe HOLD_MS [arguments...]
// prints "first" or "other"; as the running copy it prints "show" for every show request
// that reaches it until HOLD_MS have passed, running a message loop as the window does.
#include <gtest/gtest.h>
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "app/host/command_line.h"
#include "app/platform/instance.h"
#include "tests/win/child_process.h"

namespace {

int run_probe(int argc, char **argv) {
  if (argc < 3) return 2;
  if (instance_check(has_after_update(argc, argv))) {
    printf("other\n");
    fflush(stdout);
    return 0;
  }
  instance_watch_show([](const char *startup_id) {
    printf("show%s%s\n", *startup_id ? " " : "", startup_id);
    fflush(stdout);
  });
  // Told once the listener is up: a request sent before it would be lost, as it is while
  // the program is still starting.
  printf("first\n");
  fflush(stdout);
  SetTimer(nullptr, 0, (UINT)atoi(argv[2]), nullptr);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (message.message == WM_TIMER && message.hwnd == nullptr) break;
    DispatchMessageW(&message);
  }
  return 0;
}

struct probe : child_process {
  probe(int hold_ms, std::vector<std::string> args = {})
      : child_process(this_program(), with_role(hold_ms, args)) {}
  static std::vector<std::string> with_role(int hold_ms, const std::vector<std::string> &args) {
    std::vector<std::string> all = {"--probe", std::to_string(hold_ms)};
    all.insert(all.end(), args.begin(), args.end());
    return all;
  }
};

TEST(SingleInstance, ASecondStartEndsAtOnceAndTheFirstHearsTheShowMessage) {
  probe first(30000);
  ASSERT_EQ(first.line(""), "first");
  double start = monotonic_ms();
  probe second(30000);
  EXPECT_EQ(second.line(""), "other");
  EXPECT_EQ(second.wait_exit(10000), 0);
  EXPECT_LT(monotonic_ms() - start, 10000);
  EXPECT_EQ(first.line("show"), "show");
  EXPECT_EQ(first.wait_exit(0), -1) << "the first copy must keep running";

  // Unrelated arguments and look-alikes of the switch do not make a second copy wait,
  // and each one asks the first copy again.
  for (const char *arg : {"--After-Update", "--after-update=1", "-after-update", "x"}) {
    probe other(30000, {arg});
    EXPECT_EQ(other.line("", 10000), "other") << arg;
    EXPECT_EQ(other.wait_exit(10000), 0) << arg;
    EXPECT_EQ(first.line("show", 10000), "show") << arg;
  }
}

TEST(SingleInstance, AfterUpdateWaitsForTheOldCopyToEndInAnyPosition) {
  probe old_copy(3000);
  ASSERT_EQ(old_copy.line(""), "first");
  double start = monotonic_ms();
  probe updated(100, {"a", "--after-update", "b"});
  EXPECT_EQ(updated.line("", 20000), "first");
  double waited = monotonic_ms() - start;
  EXPECT_GE(waited, 1000) << "the new copy did not wait";
  EXPECT_EQ(old_copy.wait_exit(10000), 0);
  EXPECT_EQ(updated.wait_exit(10000), 0);
  EXPECT_EQ(old_copy.line("show", 5000), "<closed>") << "a copy that takes over asks nobody to show";
}

TEST(SingleInstance, AKilledCopysLockIsTakenOverAtOnce) {
  {
    probe killed(60000);
    ASSERT_EQ(killed.line(""), "first");
    killed.kill();
    EXPECT_EQ(killed.wait_exit(5000), 9);
  }
  probe next(20000);
  EXPECT_EQ(next.line(""), "first");
  probe later(100);
  EXPECT_EQ(later.line(""), "other");
  EXPECT_EQ(next.line("show"), "show");
}

// A copy killed while the new one waits abandons the lock; the wait ends with it.
TEST(SingleInstance, AfterUpdateTakesAnAbandonedLock) {
  probe old_copy(60000);
  ASSERT_EQ(old_copy.line(""), "first");
  probe updated(100, {"--after-update"});
  Sleep(1500);
  EXPECT_EQ(updated.wait_exit(0), -1) << "the new copy must be waiting";
  old_copy.kill();
  EXPECT_EQ(updated.line("", 20000), "first");
  EXPECT_EQ(updated.wait_exit(10000), 0);
}

TEST(SingleInstance, AfterUpdateGivesUpAfterThirtySecondsAndShowsTheOldCopy) {
  probe old_copy(90000);
  ASSERT_EQ(old_copy.line(""), "first");
  double start = monotonic_ms();
  probe updated(100, {"--after-update"});
  EXPECT_EQ(updated.line("", 60000), "other");
  double waited = monotonic_ms() - start;
  EXPECT_GE(waited, 29500);
  EXPECT_LT(waited, 50000);
  EXPECT_EQ(updated.wait_exit(10000), 0);
  EXPECT_EQ(old_copy.line("show"), "show");
}

}  // namespace

int main(int argc, char **argv) {
  if (argc > 1 && strcmp(argv[1], "--probe") == 0) return run_probe(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
