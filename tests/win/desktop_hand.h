#pragma once
// What a person's hand does in the desktop tests, and what the shell and the keyboard
// then know: key presses through the input queue, tray icon clicks, menu choices.
#include <windows.h>

#include <string>
#include <thread>

// A key down or up, as the keyboard sends it; a tap is both.
void key(WORD vk, bool down);
void tap(WORD vk);

// Whether anyone could take vk without modifiers now, i.e. nobody holds it.
bool key_free(WORD vk);

// Whether the shell knows the tray icon: a change to it succeeds only then.
bool shell_has_icon();

// A click or notification event on the tray icon, as the shell sends it.
void tray_event(UINT event);

// What the open menu showed: its items' texts ("-" for a separator) and the default
// item's command (-1 for none).
struct menu_seen {
  std::wstring items;
  int default_command = -1;
};

// Chooses a tray menu item with the keyboard once the menu is up, from another thread:
// `presses` presses of `arrow`, then Enter. What the menu showed goes to *seen when given.
std::thread choose_menu_item(UINT arrow, int presses, menu_seen *seen = nullptr);
