#pragma once
// The tray icon with the menu "Open mosswire" / "Quit mosswire". Open is also the icon's
// default activation. UI thread.

struct tray_actions {
  void (*open)(void);
  void (*quit)(void);
};

// Adds the icon when it is not there. True when a tray host shows it. Where no tray host
// runs the icon is still kept, and it shows up if one appears later.
bool tray_add(const tray_actions &actions);

// Removes the icon if present.
void tray_remove(void);

// Whether the icon is currently added and shown by a tray host.
bool tray_present(void);
