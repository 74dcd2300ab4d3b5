#pragma once
// A notification shown from the tray icon (notify.cpp asks, tray.cpp owns the icon).
#include <windows.h>

// Shows title and body (each already cut to fit its field) with icon as a notification of
// the tray icon; a click on it calls on_click (may be null: the tray's Open then).
// False when the tray icon is not there or the shell refused.
bool tray_show_balloon(const wchar_t *title, const wchar_t *body, HICON icon, void (*on_click)(void));
