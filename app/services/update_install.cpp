#include "app/services/update_install.h"

#include <errno.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "app/platform/linux/app_folder/files.h"
#include "app/platform/linux/file_manager.h"
#include "app/platform/linux/spawn.h"
#include "app/services/app_files.h"

// rename() where it can, else a copy into the target's folder and a rename there (the app
// data folder and the program's folder are often on different file systems).
static bool move_into_place(const std::string &from, const std::string &to, unsigned mode) {
  if (rename(from.c_str(), to.c_str()) == 0) return folder_sync(to), true;
  if (errno != EXDEV) return false;
  std::string bytes;
  if (!file_read_whole(from, &bytes)) return false;
  if (!file_replace_atomic(to, to + ".new", bytes.data(), bytes.size(), mode)) return false;
  file_delete(from);
  return true;
}

/*
 * The swap keeps a runnable program at the executable's path at every step that can
 * fail: the running file is renamed aside (the process keeps running from its open
 * image), the verified file gets its run bit while still in the app data folder, and only
 * then takes the name. If that last move fails the old file is renamed back.
 */
install_outcome install_update(const std::string &executable, const char *name) {
  std::string old_path = executable + ".old";
  std::string download = app_path(name, "");
  struct stat st;
  unsigned mode = 0755;
  if (!executable.empty() && stat(executable.c_str(), &st) == 0) mode = (st.st_mode & 0777) | 0700;

  bool swapped = false;
  if (!executable.empty() && stat(download.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    file_delete(old_path);
    if (rename(executable.c_str(), old_path.c_str()) == 0) {
      if (chmod(download.c_str(), mode) == 0 && move_into_place(download, executable, mode))
        swapped = true;
      else
        rename(old_path.c_str(), executable.c_str());
    }
  }
  if (!swapped) {
    show_in_file_manager(download);
    return install_manual;
  }
  // The swap stands even if the new copy fails to start; the user starts it by hand.
  spawn_detached(executable, "--after-update");
  return install_relaunched;
}

void remove_old_copy(const std::string &old_path) {
  for (int tries = 0; file_exists(old_path) && !file_delete(old_path); tries++) {
    if (tries + 1 >= 40) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
}

void update_cleanup_start(void) {
  std::string executable = executable_path();
  if (executable.empty()) return;
  std::string old_path = executable + ".old";
  if (!file_exists(old_path)) return;
  try {
    std::thread(remove_old_copy, old_path).detach();
  } catch (...) {
    // No thread: the copy stays until a later start.
  }
}
