#include "app/platform/win/hidden_window.h"

#include "app/platform/log.h"
#include "app/platform/win/wide.h"

bool window_class_register(const wchar_t *class_name, WNDPROC procedure, HICON icon, HCURSOR cursor,
                           const char *area) {
  WNDCLASSEXW window_class = {};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = procedure;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = class_name;
  window_class.hIcon = icon;
  window_class.hCursor = cursor;
  if (RegisterClassExW(&window_class) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS) return true;
  log_failure(area, "the window class %s can't be registered: %s", narrow(class_name).c_str(),
              error_text(GetLastError()).c_str());
  return false;
}

HWND hidden_window_make(const wchar_t *class_name, WNDPROC procedure, const wchar_t *title, const char *area,
                        const char *what) {
  HINSTANCE module = GetModuleHandleW(nullptr);
  if (!window_class_register(class_name, procedure, nullptr, nullptr, area)) return nullptr;
  // A tool window is left out of the taskbar and of Alt+Tab should anything ever show it.
  HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, class_name, title, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                module, nullptr);
  if (!window) log_failure(area, "%s can't be made: %s", what, error_text(GetLastError()).c_str());
  return window;
}
