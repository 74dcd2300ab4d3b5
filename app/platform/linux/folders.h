#pragma once
// The user's folders by the XDG base directory rules.
#include <string>

// $HOME when absolute, else the password database's home, else ".".
std::string home_folder(void);

// $XDG_CONFIG_HOME, or ~/.config when that variable is unset, empty or relative.
std::string config_home(void);

// The folder for the single-instance lock, its socket and the tray icon file:
// $XDG_RUNTIME_DIR, else a private (0700) /tmp/mosswire-<uid>. Empty when neither is usable.
std::string runtime_folder(void);
