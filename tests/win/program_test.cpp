// The real mosswire.exe under Wine. Without the WebView2 runtime (Wine has none) a person
// sees one error message with the runtime text, and when it is closed the program ends
// with code 1, having shown no other window. With a stand-in runtime registered where the
// real one registers (stand_in_browser.dll) the program starts: its window, the page's
// address, the bridge with the 19 functions, and a call from the page answered.
//
//   win_program_test PATH/TO/mosswire.exe PATH/TO/stand_in_browser.dll
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "stand_in_runtime.h"

namespace {

std::string program_path, stand_in_path;

std::wstring text_of(HWND window) {
  wchar_t text[2048];
  int n = GetWindowTextW(window, text, 2048);
  return std::wstring(text, n > 0 ? static_cast<size_t>(n) : 0);
}

std::wstring class_of(HWND window) {
  wchar_t name[256];
  int n = GetClassNameW(window, name, 256);
  return std::wstring(name, n > 0 ? static_cast<size_t>(n) : 0);
}

// The visible top-level windows of one process.
std::vector<HWND> windows_of(DWORD pid) {
  struct search {
    DWORD pid;
    std::vector<HWND> found;
  } s{pid, {}};
  EnumWindows(
      [](HWND hwnd, LPARAM p) -> BOOL {
        auto *s = reinterpret_cast<search *>(p);
        DWORD owner = 0;
        GetWindowThreadProcessId(hwnd, &owner);
        if (owner == s->pid && IsWindowVisible(hwnd)) s->found.push_back(hwnd);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&s));
  return s.found;
}

// The message box's own text: the static control that holds words (the other one holds
// the icon).
std::wstring message_text(HWND dialog) {
  std::wstring found;
  EnumChildWindows(
      dialog,
      [](HWND child, LPARAM p) -> BOOL {
        auto *found = reinterpret_cast<std::wstring *>(p);
        if (_wcsicmp(class_of(child).c_str(), L"Static") == 0 && !text_of(child).empty()) *found = text_of(child);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

// Runs first: the fresh Wine prefix has no runtime registered yet.
TEST(Program, WithoutTheRuntimeOneErrorMessageThenExitCodeOne) {
  ASSERT_FALSE(program_path.empty()) << "usage: win_program_test mosswire.exe stand_in_browser.dll";
  std::wstring exe = windows_path(program_path);
  ASSERT_NE(GetFileAttributesW(exe.c_str()), INVALID_FILE_ATTRIBUTES) << "no program at the given path";
  std::wstring command = L"\"" + exe + L"\"";
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  ASSERT_TRUE(CreateProcessW(exe.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));

  std::vector<HWND> dialogs;
  std::vector<std::wstring> other_windows;
  std::wstring caption, text;
  bool answered = false;
  DWORD start = GetTickCount();
  while (WaitForSingleObject(pi.hProcess, 50) == WAIT_TIMEOUT) {
    if (GetTickCount() - start > 90000) break;
    for (HWND w : windows_of(pi.dwProcessId)) {
      if (class_of(w) != L"#32770") {
        std::wstring seen = class_of(w) + L" \"" + text_of(w) + L"\"";
        bool known = false;
        for (const auto &o : other_windows) known = known || o == seen;
        if (!known) other_windows.push_back(seen);
        continue;
      }
      bool known = false;
      for (HWND d : dialogs) known = known || d == w;
      if (known) continue;
      dialogs.push_back(w);
      if (dialogs.size() > 1) continue;
      caption = text_of(w);
      // The text is filled in as the box is made: read it once it is there.
      for (int i = 0; i < 100 && (text = message_text(w)).empty(); i++) Sleep(50);
      // The person closes it with OK.
      HWND ok = GetDlgItem(w, IDOK);
      EXPECT_TRUE(ok) << "the box has an OK button";
      PostMessageW(w, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
      answered = true;
    }
  }
  DWORD code = STILL_ACTIVE;
  if (WaitForSingleObject(pi.hProcess, 0) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 99);
  WaitForSingleObject(pi.hProcess, 5000);
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);

  ASSERT_TRUE(answered) << "no message box appeared";
  EXPECT_EQ(dialogs.size(), 1u) << "exactly one message box";
  EXPECT_EQ(caption, L"mosswire");
  const std::wstring head = L"mosswire needs the Microsoft Edge WebView2 Runtime. Install it from https://";
  const std::wstring tail = L" and open mosswire again.";
  EXPECT_EQ(text.compare(0, head.size(), head), 0) << std::string(text.begin(), text.end());
  ASSERT_GT(text.size(), head.size() + tail.size());
  EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
  EXPECT_NE(text.find(L"microsoft.com"), std::wstring::npos) << "the address is Microsoft's download page";
  for (const auto &w : other_windows) ADD_FAILURE() << "another window was shown: " << std::string(w.begin(), w.end());
  EXPECT_EQ(code, 1u);
}

std::string read_all(const std::wstring &path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> lines_with(const std::string &report, const std::string &head) {
  std::vector<std::string> found;
  std::istringstream in(report);
  std::string line;
  while (std::getline(in, line))
    if (line.compare(0, head.size() + 1, head + " ") == 0) found.push_back(line.substr(head.size() + 1));
  return found;
}

TEST(Program, WithAStandInRuntimeItStartsAndAnswersThePage) {
  ASSERT_FALSE(stand_in_path.empty());
  std::wstring root;
  ASSERT_TRUE(register_stand_in_runtime(stand_in_path, L"msw-stand-in-", &root));
  std::wstring report_path = root + L"\\report.txt";
  SetEnvironmentVariableW(L"MSW_STAND_IN_REPORT", report_path.c_str());

  std::wstring exe = windows_path(program_path);
  std::wstring command = L"\"" + exe + L"\"";
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  ASSERT_TRUE(CreateProcessW(exe.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  std::string report;
  DWORD start = GetTickCount();
  while (GetTickCount() - start < 90000 && WaitForSingleObject(pi.hProcess, 100) == WAIT_TIMEOUT) {
    report = read_all(report_path);
    if (report.find("done\n") != std::string::npos) break;
  }
  // The window as a person sees it, while the program runs.
  HWND window = nullptr;
  for (HWND w : windows_of(pi.dwProcessId))
    if (class_of(w) == L"webview") window = w;
  RECT client = {};
  if (window) GetClientRect(window, &client);
  bool still_running = WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT;
  TerminateProcess(pi.hProcess, 0);
  WaitForSingleObject(pi.hProcess, 5000);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);

  ASSERT_NE(report.find("done\n"), std::string::npos) << "the stand-in page got no answer; report:\n" << report;
  EXPECT_TRUE(still_running);
  ASSERT_TRUE(window) << "no visible main window";
  EXPECT_EQ(client.right - client.left, 1100) << "1100 by 720 at 96 dots per inch";
  EXPECT_EQ(client.bottom - client.top, 720);

  auto data = lines_with(report, "data");
  ASSERT_EQ(data.size(), 1u);
  EXPECT_TRUE(std::regex_match(data[0], std::regex(R"(.*\\Application Data\\mosswire\.exe|.*\\AppData\\Roaming\\mosswire\.exe)")))
      << data[0];
  auto navigations = lines_with(report, "navigate");
  ASSERT_EQ(navigations.size(), 1u) << report;
  EXPECT_TRUE(std::regex_match(navigations[0], std::regex(R"(http://127\.0\.0\.1:[1-9][0-9]*/[0-9a-f]{32}/index\.html)")))
      << navigations[0];
  auto fetched = lines_with(report, "fetch");
  ASSERT_EQ(fetched.size(), 1u);
  EXPECT_EQ(fetched[0].compare(0, 16, "HTTP/1.1 200 OK "), 0) << "the page is served: " << fetched[0];

  // Every document starts with the bridge, then the bind script of all 19 functions.
  std::vector<std::string> names = {"msw_read_vault", "msw_write_vault", "msw_device_secret", "msw_pin_start",
                                    "msw_pin_result", "msw_wipe", "msw_set_panic", "msw_attention",
                                    "msw_title", "msw_copy", "msw_paste", "msw_owner_key",
                                    "msw_owner_secret", "msw_startup", "msw_focused", "msw_notify_setup",
                                    "msw_notify", "msw_update", "msw_update_install"};
  std::sort(names.begin(), names.end());
  std::string array = "[";
  for (size_t i = 0; i < names.size(); i++) array += (i ? ",\"" : "\"") + names[i] + "\"";
  array += "]";
  auto scripts = lines_with(report, "script");
  ASSERT_EQ(scripts.size(), 2u) << report;
  EXPECT_EQ(scripts[0], "bridge");
  EXPECT_EQ(scripts[1], "bind " + array);
  EXPECT_EQ(lines_with(report, "scripts"), std::vector<std::string>{"2"});

  // The page's msw_title call: the title changed and the call was answered with null.
  EXPECT_EQ(lines_with(report, "title"), std::vector<std::string>{"from the page"});
  EXPECT_EQ(lines_with(report, "reply"),
            std::vector<std::string>{"window.__webview__.onReply(\"feedc0defeedc0defeedc0defeedc0de\", 0, null)"});
  EXPECT_EQ(lines_with(report, "devtools"), std::vector<std::string>{"0 statusbar 0 visible 1"});
}

}  // namespace

int main(int argc, char **argv) {
  testing::InitGoogleTest(&argc, argv);
  if (argc > 2) program_path = argv[1], stand_in_path = argv[2];
  return RUN_ALL_TESTS();
}
