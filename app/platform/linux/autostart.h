#pragma once
// Starting with the user's session: the XDG autostart entry
// $XDG_CONFIG_HOME/autostart/mosswire.desktop.
#include <string>

// The whole entry for an executable path; false when the path can't be written as a
// desktop entry argument (a line break or a zero byte in it, or not absolute).
bool autostart_entry_text(const std::string &executable, std::string *entry);

std::string autostart_entry_path(void);

// On: writes the entry for the running executable (atomically, so a crash never leaves
// half an entry). Off: removes it; an entry that isn't there counts as removed.
bool set_run_at_login(bool on);
