#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/platform/files.h"
#include "app/platform/process.h"

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
bool executable_swap(const std::string &executable, const std::string &download) {
  std::string old_path = executable + ".old";
  struct stat st;
  unsigned mode = 0755;
  if (!executable.empty() && stat(executable.c_str(), &st) == 0) mode = (st.st_mode & 0777) | 0700;
  if (executable.empty() || stat(download.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  file_delete(old_path);
  if (rename(executable.c_str(), old_path.c_str()) != 0) return false;
  if (chmod(download.c_str(), mode) == 0 && move_into_place(download, executable, mode)) return true;
  rename(old_path.c_str(), executable.c_str());
  return false;
}

static bool starts_with(const std::string &text, const char *prefix) {
  return text.compare(0, strlen(prefix), prefix) == 0;
}

/*
 * Whatever lies under /usr (but /usr/local) belongs to the package manager: even root must
 * not change it behind the manager's back, and a newer package is how it is updated. Else
 * the swap renames the file within its folder, so both must be writable by this user as
 * the kernel sees it (AT_EACCESS: the effective ids and capabilities).
 */
executable_owner executable_replacer(const std::string &executable) {
  if (executable.empty() || executable[0] != '/') return owner_nobody;
  if (starts_with(executable, "/usr/") && !starts_with(executable, "/usr/local/")) return owner_package_manager;
  std::string folder = executable.substr(0, executable.rfind('/'));
  if (folder.empty()) folder = "/";
  if (faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0 ||
      faccessat(AT_FDCWD, executable.c_str(), W_OK, AT_EACCESS) != 0)
    return owner_nobody;
  return owner_self;
}
