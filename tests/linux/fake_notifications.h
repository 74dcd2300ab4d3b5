#pragma once
// A stand-in notification server (org.freedesktop.Notifications) on the session bus,
// served from a thread of its own so libnotify's blocking calls can reach it.
#include <string>
#include <vector>

struct shown_notification {
  unsigned id;
  std::string app, summary, body;
  std::vector<std::string> actions;
  std::vector<std::string> hints;  // hint names
};

bool fake_notifications_start(void);
void fake_notifications_stop(void);
std::vector<shown_notification> fake_notifications_shown(void);

// Emits ActionInvoked(id, key), as a server does when the user clicks a notification.
void fake_notifications_click(unsigned id, const char *key);
