#pragma once
// A top-level window of the calling thread that is never shown. Top-level rather than
// message-only, because message-only windows hear no broadcasts (the session's end,
// "TaskbarCreated", a registered message sent to every window).
#include <windows.h>

// Registers a window class of this program; registering a name again counts as done (a
// second window of the class, or a second engine, finds it there). False when Windows
// refuses; the log then says so under `area`.
bool window_class_register(const wchar_t *class_name, WNDPROC procedure, HICON icon, HCURSOR cursor,
                           const char *area);

// Registers `class_name` with `procedure` (once; a second call reuses it) and makes the
// window. Null when Windows refuses either; the log then says so under `area`, naming the
// window as `what`.
HWND hidden_window_make(const wchar_t *class_name, WNDPROC procedure, const wchar_t *title, const char *area,
                        const char *what);
