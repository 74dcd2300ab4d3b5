#include "app/platform/win/window_helper.h"

#include "app/platform/log.h"
#include "app/platform/win/wide.h"

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
  HINSTANCE instance = GetModuleHandleW(nullptr);
  const wchar_t *class_name = L"mosswire-helper";
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = helper_procedure;
  wc.hInstance = instance;
  wc.lpszClassName = class_name;
  if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    log_failure("window", "helper window class refused: %s", error_text(GetLastError()).c_str());
    return nullptr;
  }
  taskbar_created_message();
  // A tool window is left out of the taskbar and of Alt+Tab should anything ever show it.
  window = CreateWindowExW(WS_EX_TOOLWINDOW, class_name, L"mosswire", WS_POPUP, 0, 0, 0, 0, nullptr,
                           nullptr, instance, nullptr);
  if (!window) log_failure("window", "no helper window: %s", error_text(GetLastError()).c_str());
  return window;
}
