#pragma once
// The tray icon: a StatusNotifierItem (libayatana-appindicator3) with the menu
// "Open mosswire" / "Quit mosswire". Open is also the icon's secondary activation.

struct tray_actions {
  void (*open)(void);
  void (*quit)(void);
};

// Adds the icon when it is not there. True when a tray host shows it: a
// StatusNotifierWatcher on the session bus or an X system tray. Where neither exists
// the icon object is still kept, and it shows up if a tray host appears later.
bool tray_add(const tray_actions &actions);

// Removes the icon if present.
void tray_remove(void);

// Whether the icon is currently added and shown by a tray host.
bool tray_present(void);
