#include "app/platform/win/window_helper.h"

#include "app/platform/win/hidden_window.h"

namespace {

// The shell broadcasts this message when its taskbar is made anew (Explorer restarted).
UINT taskbar_created_message(void) {
  static UINT id = RegisterWindowMessageW(L"TaskbarCreated");
  return id;
}

LRESULT CALLBACK helper_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == tray_callback_message) {
    tray_on_callback(lparam);
    return 0;
  }
  if (message == WM_HOTKEY) {
    hotkey_on_press(wparam);
    return 0;
  }
  if (message == WM_TIMER) {
    hotkey_on_timer(wparam);
    return 0;
  }
  UINT taskbar = taskbar_created_message();
  if (taskbar && message == taskbar) {
    tray_on_shell_restarted();
    return 0;
  }
  // Only the program ends the helper: a stray close leaves the icon and the key in place.
  if (message == WM_CLOSE) return 0;
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

HWND helper_window(void) {
  static HWND window = nullptr;
  if (window && IsWindow(window)) return window;
  taskbar_created_message();
  window = hidden_window_make(L"mosswire-helper", helper_procedure, L"mosswire", "window", "the helper window");
  return window;
}
