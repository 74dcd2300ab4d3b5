#include "app/platform/files.h"

#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>

#include "app/platform/linux/folders.h"

std::string home_folder(void) {
  const char *home = getenv("HOME");
  if (home && home[0] == '/') return home;
  struct passwd *pw = getpwuid(getuid());
  if (pw && pw->pw_dir && pw->pw_dir[0] == '/') return pw->pw_dir;
  return ".";
}

bool folder_make(const std::string &path, unsigned mode) {
  if (path.empty()) return false;
  struct stat st;
  if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  size_t slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !folder_make(path.substr(0, slash), mode))
    return false;
  if (mkdir(path.c_str(), mode) == 0) return true;
  return errno == EEXIST && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string config_home(void) {
  // The XDG base directory rules ignore a relative value.
  const char *config = getenv("XDG_CONFIG_HOME");
  return (config && config[0] == '/') ? std::string(config) : home_folder() + "/.config";
}

const std::string &app_folder(void) {
  static std::string folder;
  static std::once_flag once;
  std::call_once(once, [] {
    folder = config_home() + "/mosswire";
    folder_make(folder, 0700);
    // The folder holds the vault and the device key: nobody else may list or open it,
    // also when an older copy or another tool made it with looser rights.
    struct stat st;
    if (stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
        (st.st_mode & 0777) != 0700)
      chmod(folder.c_str(), 0700);
  });
  return folder;
}

bool file_read_whole(const std::string &path, std::string *out) {
  // O_NONBLOCK so that a pipe put in a file's place can't hang the window; only regular
  // files are read.
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 0 &&
            st.st_size <= INT32_MAX;
  if (ok) {
    std::string data;
    try {
      data.resize((size_t)st.st_size);
    } catch (...) {
      ok = false;
    }
    size_t done = 0;
    while (ok && done < data.size()) {
      ssize_t n = read(fd, &data[done], data.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) ok = false;  // an error, or the file shrank under us: a short read
      else done += (size_t)n;
    }
    if (ok) out->swap(data);
  }
  close(fd);
  return ok;
}

bool file_read_head(const std::string &path, size_t limit, std::string *out) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  std::string data(ok ? limit : 0, '\0');
  size_t done = 0;
  while (ok && done < limit) {
    ssize_t n = read(fd, &data[done], limit - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    done += (size_t)n;
  }
  close(fd);
  if (ok) out->assign(data, 0, done);
  return ok;
}

bool folder_sync(const std::string &path) {
  size_t slash = path.find_last_of('/');
  std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  int rc = fsync(fd);
  int err = errno;
  close(fd);
  return rc == 0 || err == EINVAL || err == EROFS;
}

/*
 * Atomic replace. rename() alone is atomic for readers, but not for a power cut: ext4,
 * XFS and btrfs may write the rename's folder entry before the new file's data blocks, so
 * after a cut the name can point at an empty or half-written file and the old contents
 * are gone too. Hence the order: data to the temporary file, fsync it (its blocks are on
 * disk), rename over the real name, then fsync the folder (the new entry is on disk).
 * Until the rename the old file is untouched; every failure before it removes the
 * temporary file. A failed folder sync after the rename is reported as a failure even
 * though the new contents are visible, because the caller was asked for a durable write.
 */
bool file_replace_atomic(const std::string &path, const std::string &tmp_path,
                         const char *bytes, size_t length, unsigned mode) {
  // A fresh file every time: whatever a crash left under the temporary name (a file with
  // other rights, a link to elsewhere) is removed, never written through.
  unlink(tmp_path.c_str());
  int fd = open(tmp_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  if (fd < 0) return false;
  bool ok = fchmod(fd, mode) == 0;  // the umask may have taken bits away
  size_t done = 0;
  while (ok && done < length) {
    ssize_t n = write(fd, bytes + done, length - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ok = false;
    else done += (size_t)n;
  }
  if (ok && fsync(fd) != 0) ok = false;
  if (close(fd) != 0) ok = false;
  if (ok && rename(tmp_path.c_str(), path.c_str()) != 0) ok = false;
  if (!ok) {
    unlink(tmp_path.c_str());
    return false;
  }
  return folder_sync(path);
}

bool file_delete(const std::string &path) {
  return unlink(path.c_str()) == 0 || errno == ENOENT;
}

bool file_exists(const std::string &path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

bool owner_key_path(std::string *path) {
  // Only $HOME: the owner's tools write the file under the home the shell gives them.
  const char *home = getenv("HOME");
  if (!home) return false;
  std::string p = std::string(home) + "/.mosswire/owner.json";
  if (p.size() >= 1024) return false;
  *path = p;
  return true;
}
