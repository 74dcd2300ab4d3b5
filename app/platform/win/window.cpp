#include "app/platform/window.h"

#include <windows.h>
#include <commctrl.h>

#include "app/platform/win/icon.h"

namespace {

// The main window's state, UI thread only: what the host wants told, the last focus state
// told to it (-1 unknown) so a change is told once, and whether a close is to go through
// whatever the host says (the window is being destroyed for good).
struct window_state {
  window_events events = {nullptr, nullptr, nullptr};
  int last_focus = -1;
  bool closing_for_good = false;
};

window_state main_window;

constexpr UINT_PTR subclass_id = 1;

void tell_focus(bool gained) {
  int now = gained ? 1 : 0;
  if (now == main_window.last_focus) return;
  main_window.last_focus = now;
  if (main_window.events.focus) main_window.events.focus(gained);
}

bool has_user(HWND window) {
  return IsWindowVisible(window) && !IsIconic(window) && GetForegroundWindow() == window;
}

LRESULT CALLBACK main_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                       UINT_PTR, DWORD_PTR) {
  switch (message) {
    case WM_ACTIVATE:
      // The high word is the minimised flag: a window activated while minimised has no user.
      tell_focus(LOWORD(wparam) != WA_INACTIVE && HIWORD(wparam) == 0);
      break;  // the web view sees the activation too
    case WM_SIZE:
      if (wparam == SIZE_MINIMIZED)
        tell_focus(false);
      else if (wparam == SIZE_RESTORED || wparam == SIZE_MAXIMIZED)
        tell_focus(has_user(window));
      break;
    case WM_CLOSE: {
      close_choice choice = close_now;
      if (!main_window.closing_for_good && main_window.events.close) choice = main_window.events.close();
      if (choice == close_now) break;  // the web view closes the window, which ends its message loop
      if (choice == close_keep) return 0;
      // The host tells the page "away" and then the focus loss itself: the deactivation
      // that hiding brings is not told on its own before that.
      main_window.last_focus = 0;
      ShowWindow(window, SW_HIDE);
      if (main_window.events.hidden) main_window.events.hidden();
      return 0;
    }
    case WM_NCDESTROY:
      RemoveWindowSubclass(window, main_window_procedure, subclass_id);
      break;
  }
  return DefSubclassProc(window, message, wparam, lparam);
}

// Windows lets a program take the foreground only while it has the user's last input or
// was allowed by the program that had it (a second start allows the first one). When that
// is refused, joining the input of the window in front lends us its right for this one
// call; should even that fail, Windows flashes the taskbar button instead.
void bring_to_front(HWND window) {
  BringWindowToTop(window);
  if (SetForegroundWindow(window) && GetForegroundWindow() == window) return;
  HWND front = GetForegroundWindow();
  DWORD front_thread = front ? GetWindowThreadProcessId(front, nullptr) : 0;
  DWORD own_thread = GetCurrentThreadId();
  bool joined = front_thread && front_thread != own_thread && AttachThreadInput(own_thread, front_thread, TRUE);
  BringWindowToTop(window);
  SetForegroundWindow(window);
  SetActiveWindow(window);
  if (joined) AttachThreadInput(own_thread, front_thread, FALSE);
}

}  // namespace

void window_attach(void *window, const window_events &events) {
  HWND hwnd = static_cast<HWND>(window);
  main_window.events = events;
  main_window.last_focus = -1;
  main_window.closing_for_good = false;
  SendMessageW(hwnd, WM_SETICON, ICON_BIG, (LPARAM)app_icon(true));
  SendMessageW(hwnd, WM_SETICON, ICON_SMALL, (LPARAM)app_icon(false));
  SetWindowSubclass(hwnd, main_window_procedure, subclass_id, 0);
}

void window_present(void *window, const char *) {
  HWND hwnd = static_cast<HWND>(window);
  if (!hwnd) return;
  ShowWindow(hwnd, IsIconic(hwnd) ? SW_RESTORE : SW_SHOW);
  bring_to_front(hwnd);
}

void window_hide(void *window) {
  if (window) ShowWindow(static_cast<HWND>(window), SW_HIDE);
}

void window_destroy(void *window) {
  if (!window) return;
  // A close, not DestroyWindow: the web view's own procedure takes the window down in its
  // order, after the current call (a tray menu, a page call) has returned.
  main_window.closing_for_good = true;
  PostMessageW(static_cast<HWND>(window), WM_CLOSE, 0, 0);
}

void window_request_attention(void *window) {
  if (!window || window_in_front(window)) return;
  FLASHWINFO flash = {};
  flash.cbSize = sizeof flash;
  flash.hwnd = static_cast<HWND>(window);
  // The taskbar button flashes until the window comes to the front.
  flash.dwFlags = FLASHW_TRAY | FLASHW_TIMERNOFG;
  FlashWindowEx(&flash);
}

bool window_in_front(void *window) { return window && has_user(static_cast<HWND>(window)); }
