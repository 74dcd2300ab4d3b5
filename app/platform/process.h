#pragma once
// The running program, and replacing it with a verified download of a newer release.
#include <string>

// Readies the process before anything else runs: on Linux a write to a peer or pipe that
// went away then fails instead of ending the process (SIGPIPE is ignored).
void process_prepare(void);

// The release asset that holds the whole program for this platform.
extern const char release_asset_name[];

// Absolute path of the running executable; empty when unknown.
std::string executable_path(void);

// Who may put a new file in the executable's place: this program, by itself; the system's
// package manager, which installed it (a newer package updates it); or nobody this user
// can be, since the file or its folder can't be changed.
enum executable_owner { owner_self, owner_package_manager, owner_nobody };
executable_owner executable_replacer(const std::string &executable);

// Puts the verified file `download` in place of `executable`, which is kept as
// "<executable>.old" (the running process goes on from its open image). At every step
// that can fail a runnable program stays at the executable's path; on failure
// everything is put back and false is answered.
bool executable_swap(const std::string &executable, const std::string &download);

// Starts executable with the single switch "--after-update", without waiting and without
// handing it this process's open files. False when it could not be started.
bool relaunch_after_update(const std::string &executable);
