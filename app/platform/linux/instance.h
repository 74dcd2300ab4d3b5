#pragma once
// One copy per user. The running copy holds an flock on "mosswire-running.lock" in the
// user's runtime folder for its whole life and listens on the Unix socket "mosswire-show"
// beside it; a second start finds the lock taken, asks the running copy through the
// socket to show its window, and ends. The kernel drops the lock when the holder ends,
// however it ends, so a killed copy never blocks the next start.
#include <string>

// The folder for the lock and the socket: $XDG_RUNTIME_DIR, else a private (0700)
// /tmp/mosswire-<uid>. Empty when neither is usable.
std::string instance_folder();

// The single-instance check. True when this process must end at once because another
// copy runs (it has been asked to show itself); false when this process goes on as the
// only copy (or without the rule, when no lock could be made). With `after_update` a
// taken lock is waited for, up to 30 seconds.
bool instance_check(bool after_update);

// Calls on_show on the UI thread (default GLib main context) for every show request
// that reaches the running copy; `startup_id` is the second start's startup
// notification id, possibly empty.
void instance_watch_show(void (*on_show)(const char *startup_id));
