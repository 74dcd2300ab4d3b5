#include "app/services/update_install.h"

#include <chrono>
#include <thread>

#include "app/platform/files.h"
#include "app/platform/process.h"
#include "app/services/app_files.h"

install_outcome install_update(const std::string &executable, const char *name) {
  std::string download = app_path(name, "");
  if (!executable_swap(executable, download)) {
    show_in_file_manager(download);
    return install_manual;
  }
  // The swap stands even if the new copy fails to start; the user starts it by hand.
  relaunch_after_update(executable);
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
