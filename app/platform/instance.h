#pragma once
// One copy per user. The running copy holds a lock for its whole life and listens for
// show requests; a second start finds the lock taken, asks the running copy to show its
// window, and ends. The lock goes with the process however it ends, so a killed copy
// never blocks the next start.

// The single-instance check. True when this process must end at once because another
// copy runs (it has been asked to show itself); false when this process goes on as the
// only copy (or without the rule, when no lock could be made). With `after_update` a
// taken lock is waited for, up to 30 seconds.
bool instance_check(bool after_update);

// Calls on_show on the UI thread for every show request that reaches the running copy;
// `startup_id` is the second start's launcher token, possibly empty.
void instance_watch_show(void (*on_show)(const char *startup_id));
