#pragma once
// Freedesktop notifications through libnotify. Clicking one calls on_click on the UI
// thread (the host shows its window).

// window (a GtkWindow*, may be null) lends the notification its icon. False when no
// notification server took it.
bool notification_show(const char *title, const char *body, void *window,
                       void (*on_click)(void));
