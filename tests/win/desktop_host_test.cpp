// The host's desktop behaviour (app/host/desktop_host.cpp) on the Windows layer, with a
// page that only records the scripts it is asked to run: close to the tray, the page's
// focus, away and black-out events, the tray menu's Quit and the shutdown's clean-up.
// The tests run in order and share one main window, as one run of the program does.
#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <thread>
#include <vector>

#include "app/host/desktop_host.h"
#include "app/host/host.h"
#include "app/host/page_events.h"
#include "app/platform/instance.h"
#include "app/platform/tray.h"
#include "app/platform/window.h"
#include "tests/win/desktop_hand.h"
#include "tests/win/message_pump.h"

// The single-instance watch is not under test here; the host only hands it its handler.
void instance_watch_show(void (*)(const char *)) {}

namespace {

const std::string focus_true = "window.MswFocus && window.MswFocus(true)";
const std::string focus_false = "window.MswFocus && window.MswFocus(false)";
const std::string away = "window.MswAway && window.MswAway()";
const std::string panic = "window.MswPanic && window.MswPanic()";

bool window_gone = false;

// The top-level window as the web view's own procedure treats it: a close destroys it.
LRESULT CALLBACK view_procedure(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_CLOSE) {
    DestroyWindow(w);
    return 0;
  }
  if (m == WM_DESTROY) window_gone = true;
  return DefWindowProcW(w, m, wp, lp);
}

// A web view whose page records what it is asked to evaluate.
class recording_view : public webview::engine {
 public:
  HWND hwnd = nullptr;
  std::vector<std::string> scripts;
  void run() override {}
  void terminate() override {}
  void set_title(const std::string &) override {}
  void set_size(int, int, bool) override {}
  void navigate(const std::string &) override {}
  void eval(const std::string &script) override { scripts.push_back(script); }
  void *window() override { return hwnd && IsWindow(hwnd) ? hwnd : nullptr; }

 protected:
  void *add_script_impl(const std::string &) override { return nullptr; }
  void remove_all_scripts_impl() override {}
  void dispatch_impl(std::function<void()> task) override { task(); }
};

recording_view view;

HWND make_view_window() {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = view_procedure;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"msw-test-view";
  RegisterClassW(&wc);
  return CreateWindowExW(0, wc.lpszClassName, L"mosswire", WS_OVERLAPPEDWINDOW, 120, 120, 500, 400, nullptr,
                         nullptr, wc.hInstance, nullptr);
}

bool last_script_is(const std::string &script) { return !view.scripts.empty() && view.scripts.back() == script; }

// Sets the black-out key through the host and answers what the host answered; on Windows
// the answer comes before the call returns, exactly once.
bool set_key(const char *name, void (*action)(void)) {
  struct answers {
    int count = 0;
    bool registered = false;
  } got;
  host_set_blackout_key(name, action, [](bool registered, void *data) {
    auto *a = static_cast<answers *>(data);
    a->count++;
    a->registered = registered;
  }, &got);
  EXPECT_EQ(got.count, 1) << (name ? name : "(none)");
  return got.registered;
}

bool seen(const std::string &script) {
  for (const std::string &s : view.scripts)
    if (s == script) return true;
  return false;
}

}  // namespace

TEST(DesktopHost, BeforeSetUpNoKeyAndAfterItTheTrayIcon) {
  EXPECT_EQ(host_main_window(), nullptr);
  EXPECT_FALSE(set_key("F9", host_raise_panic));
  EXPECT_TRUE(key_free(VK_F9));

  view.hwnd = make_view_window();
  ASSERT_NE(view.hwnd, nullptr);
  host_view = &view;
  window_setup(&view);
  EXPECT_EQ(host_main_window(), view.hwnd);
  EXPECT_TRUE(tray_present());
  EXPECT_TRUE(shell_has_icon());
}

TEST(DesktopHost, CloseHidesToTheTrayAndTheTrayBringsItBack) {
  host_show_window();
  ASSERT_TRUE(pump_until([] { return window_in_front(view.hwnd) && last_script_is(focus_true); }));

  view.scripts.clear();
  SendMessageW(view.hwnd, WM_CLOSE, 0, 0);
  EXPECT_TRUE(IsWindow(view.hwnd));
  EXPECT_FALSE(IsWindowVisible(view.hwnd));
  pump(200);
  // Away first, then the focus loss, each once.
  ASSERT_EQ(view.scripts.size(), 2u);
  EXPECT_EQ(view.scripts[0], away);
  EXPECT_EQ(view.scripts[1], focus_false);

  tray_event(WM_LBUTTONUP);
  EXPECT_TRUE(IsWindowVisible(view.hwnd));
  EXPECT_TRUE(pump_until([] { return window_in_front(view.hwnd) && last_script_is(focus_true); }));

  ShowWindow(view.hwnd, SW_MINIMIZE);
  EXPECT_TRUE(pump_until([] { return last_script_is(focus_false); }));
  tray_event(NIN_BALLOONUSERCLICK);  // a notification's click, none shown yet: Open
  EXPECT_TRUE(pump_until([] { return window_in_front(view.hwnd) && last_script_is(focus_true); }));
}

TEST(DesktopHost, BlackOutKeyRaisesThePanicEventWhileHiddenAndIsReplaced) {
  ASSERT_TRUE(set_key("F9", host_raise_panic));
  SendMessageW(view.hwnd, WM_CLOSE, 0, 0);
  ASSERT_FALSE(IsWindowVisible(view.hwnd));
  view.scripts.clear();
  tap(VK_F9);
  EXPECT_TRUE(pump_until([] { return seen(panic); }));

  // Names the host does not know, and a new key that is refused, leave no key behind.
  for (const char *name : {"Keyb", "KeyAB", "F0", "F01", "F25", "escape", "NumpadEnter"}) {
    EXPECT_FALSE(set_key(name, host_raise_panic)) << name;
    EXPECT_TRUE(key_free(VK_F9)) << name;
  }
  ASSERT_TRUE(set_key("ScrollLock", host_raise_panic));
  EXPECT_FALSE(key_free(VK_SCROLL));
  EXPECT_FALSE(set_key(nullptr, nullptr));
  EXPECT_TRUE(key_free(VK_SCROLL));
  view.scripts.clear();
  tap(VK_SCROLL);
  pump(300);
  EXPECT_FALSE(seen(panic));
}

TEST(DesktopHost, QuitFromTheTrayMenuClosesOnceThePageStoredAndShutdownCleansUp) {
  ASSERT_TRUE(set_key("KeyB", host_raise_panic));
  view.scripts.clear();
  std::thread hand = choose_menu_item(VK_UP, 1);  // up from the top: "Quit mosswire"
  tray_event(WM_RBUTTONUP);
  hand.join();
  // The page is asked to store what it holds, and the window waits for its answer.
  EXPECT_TRUE(pump_until([] { return seen(page_event_answered_script(event_quit)); }));
  pump(500);
  EXPECT_TRUE(IsWindow(view.hwnd)) << "the window went before the page had stored";
  SendMessageW(view.hwnd, WM_CLOSE, 0, 0);  // a close meanwhile changes nothing
  EXPECT_TRUE(IsWindow(view.hwnd));
  view.on_message(R"({"id":"","method":"MswQuit","params":[]})");
  EXPECT_TRUE(pump_until([] { return window_gone; }));
  EXPECT_FALSE(IsWindow(view.hwnd));

  host_shutdown_desktop();
  host_view = nullptr;
  EXPECT_FALSE(tray_present());
  EXPECT_FALSE(shell_has_icon());
  EXPECT_TRUE(key_free('B'));
  EXPECT_EQ(host_main_window(), nullptr);
}
