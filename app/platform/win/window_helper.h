#pragma once
// The program's hidden helper window: a top-level window of the UI thread that is never
// shown. The tray icon's clicks, the black-out key's presses and the shell's
// "TaskbarCreated" broadcast arrive here, and the clipboard is opened in its name, so all
// of them work while the main window is hidden or not made yet. It is top-level rather
// than message-only because message-only windows receive no broadcasts and cannot be the
// foreground window that a tray menu needs.
#include <windows.h>

// The message the tray icon sends on a click or a notification event.
constexpr UINT tray_callback_message = WM_APP + 1;

// The helper window, made on first use on the calling (UI) thread; null when Windows
// refuses to make it.
HWND helper_window(void);

// Handlers the helper window calls (tray.cpp, hotkey.cpp).
void tray_on_callback(LPARAM event);
void tray_on_shell_restarted(void);
void hotkey_on_press(WPARAM id);
void hotkey_on_timer(WPARAM id);
