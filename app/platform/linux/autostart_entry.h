#pragma once
// The XDG autostart entry $XDG_CONFIG_HOME/autostart/mosswire.desktop behind
// set_run_at_login.
#include <string>

// The whole entry for an executable path; false when the path can't be written as a
// desktop entry argument (a line break or a zero byte in it, or not absolute).
bool autostart_entry_text(const std::string &executable, std::string *entry);

std::string autostart_entry_path(void);
