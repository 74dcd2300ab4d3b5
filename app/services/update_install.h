#pragma once
// Installing a verified download over the running executable, and removing the copy an
// earlier update left behind.
#include <string>

enum install_outcome { install_relaunched, install_manual };

// Swaps the app data folder's file name in for executable (which is kept as
// "<executable>.old"), starts it with "--after-update" and answers relaunched. When the
// executable's folder can't be changed, everything is put back, the download is shown in
// the file manager and the answer is manual.
install_outcome install_update(const std::string &executable, const char *name);

// Deletes old_path, retrying every 500 ms for up to 40 tries while it can't be deleted.
void remove_old_copy(const std::string &old_path);

// Start-up's clean-up: when "<running executable>.old" exists, removes it on a thread of
// its own so start-up does not wait.
void update_cleanup_start(void);
