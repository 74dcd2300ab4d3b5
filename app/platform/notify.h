#pragma once
// Desktop notifications. Clicking one calls on_click on the UI thread (the host shows
// its window).

// window (the main window's handle, may be null) lends the notification its icon. False
// when no notification server took it.
bool notification_show(const char *title, const char *body, void *window,
                       void (*on_click)(void));
