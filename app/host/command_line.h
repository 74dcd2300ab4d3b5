#pragma once
// The program's one switch, given to a freshly installed copy after an update.
extern const char after_update_switch[];  // "--after-update"

// True when any argument after the program name is exactly the switch.
bool has_after_update(int argc, char **argv);
