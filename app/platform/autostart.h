#pragma once
// Starting with the user's session (on Linux an XDG autostart entry).

// On: the running executable starts with the session (written so that a crash never
// leaves half an entry). Off: it no longer does; nothing there counts as done.
bool set_run_at_login(bool on);
