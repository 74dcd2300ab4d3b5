// The single-instance rule on the real mosswire.exe under Wine, with a stand-in WebView2
// runtime registered where the real one registers: a second start ends at once with code
// 0 and no window of its own, and the first copy's window, hidden or minimised, comes back.
//
//   win_program_instance_test PATH/TO/mosswire.exe PATH/TO/stand_in_browser.dll
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "stand_in_runtime.h"

namespace {

std::string program_arg, stand_in_arg;

std::wstring class_of(HWND window) {
  wchar_t name[256];
  int n = GetClassNameW(window, name, 256);
  return std::wstring(name, n > 0 ? (size_t)n : 0);
}

// The main window of a process, visible or not.
HWND main_window_of(DWORD pid) {
  struct search {
    DWORD pid;
    HWND found;
  } s{pid, nullptr};
  EnumWindows(
      [](HWND hwnd, LPARAM p) -> BOOL {
        search *s = (search *)p;
        DWORD owner = 0;
        GetWindowThreadProcessId(hwnd, &owner);
        if (owner == s->pid && class_of(hwnd) == L"webview") s->found = hwnd;
        return TRUE;
      },
      (LPARAM)&s);
  return s.found;
}

int visible_windows_of(DWORD pid) {
  struct search {
    DWORD pid;
    int count;
  } s{pid, 0};
  EnumWindows(
      [](HWND hwnd, LPARAM p) -> BOOL {
        search *s = (search *)p;
        DWORD owner = 0;
        GetWindowThreadProcessId(hwnd, &owner);
        if (owner == s->pid && IsWindowVisible(hwnd)) s->count++;
        return TRUE;
      },
      (LPARAM)&s);
  return s.count;
}

struct program {
  PROCESS_INFORMATION info = {};
  bool started = false;
  program() {
    std::wstring exe = windows_path(program_arg), command = L"\"" + exe + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    started = CreateProcessW(exe.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info);
  }
  ~program() {
    if (!started) return;
    if (WaitForSingleObject(info.hProcess, 0) != WAIT_OBJECT_0) TerminateProcess(info.hProcess, 0);
    WaitForSingleObject(info.hProcess, 10000);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
  }
  long exit_code(DWORD timeout_ms) {
    if (WaitForSingleObject(info.hProcess, timeout_ms) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(info.hProcess, &code);
    return (long)code;
  }
};

template <typename F>
bool within(DWORD ms, F done) {
  for (DWORD start = GetTickCount(); GetTickCount() - start < ms; Sleep(100))
    if (done()) return true;
  return done();
}

TEST(ProgramInstance, ASecondStartEndsWithZeroAndBringsTheFirstWindowBack) {
  ASSERT_FALSE(program_arg.empty()) << "usage: win_program_instance_test mosswire.exe stand_in_browser.dll";
  std::wstring root;
  ASSERT_TRUE(register_stand_in_runtime(stand_in_arg, L"msw-instance-", &root));
  program first;
  ASSERT_TRUE(first.started);
  HWND window = nullptr;
  ASSERT_TRUE(within(90000, [&] { return (window = main_window_of(first.info.dwProcessId)) && IsWindowVisible(window); }))
      << "the first copy shows no window";
  // The window set-up (which starts listening for show requests) runs from the loop.
  Sleep(2000);

  // Hidden, as in the tray: a second start brings it back.
  ShowWindow(window, SW_HIDE);
  ASSERT_FALSE(IsWindowVisible(window));
  {
    program second;
    ASSERT_TRUE(second.started);
    EXPECT_EQ(second.exit_code(30000), 0);
    EXPECT_EQ(visible_windows_of(second.info.dwProcessId), 0);
  }
  EXPECT_TRUE(within(15000, [&] { return IsWindowVisible(window) != FALSE; })) << "the hidden window did not come back";

  // Minimised: it comes back restored.
  ShowWindow(window, SW_MINIMIZE);
  ASSERT_TRUE(within(5000, [&] { return IsIconic(window) != FALSE; }));
  {
    program third;
    EXPECT_EQ(third.exit_code(30000), 0);
  }
  EXPECT_TRUE(within(15000, [&] { return IsWindowVisible(window) && !IsIconic(window); }))
      << "the minimised window was not restored";
  EXPECT_EQ(first.exit_code(0), -1) << "the first copy keeps running";
}

}  // namespace

int main(int argc, char **argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc > 2) program_arg = argv[1], stand_in_arg = argv[2];
  return RUN_ALL_TESTS();
}
