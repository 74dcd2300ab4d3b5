#pragma once
// Freedesktop notifications through libnotify. Clicking one calls on_click on the UI
// thread (the host shows its window).

// False when no notification server took it.
bool notification_show(const char *title, const char *body, void (*on_click)(void));
