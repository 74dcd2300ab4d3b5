#include "app/platform/instance.h"

#include <errno.h>
#include <fcntl.h>
#include <glib-unix.h>
#include <glib.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "app/platform/linux/folders.h"
#include "app/platform/log.h"

namespace {

// This copy's hold on the instance: the lock file, held for the life of the process and
// never closed; the listening show socket of the running copy; and what a show request does.
struct instance_state {
  int lock_fd = -1;
  int show_fd = -1;
  void (*show_handler)(const char *) = nullptr;
};

instance_state instance;

const char lock_name[] = "mosswire-running.lock";
const char socket_name[] = "mosswire-show";

// A folder we may trust: ours, a real folder (no link), closed to everyone else.
bool private_folder(const std::string &dir) {
  struct stat st;
  if (lstat(dir.c_str(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) && st.st_uid == getuid() && (st.st_mode & 077) == 0;
}

bool socket_address(const std::string &path, sockaddr_un *addr) {
  memset(addr, 0, sizeof *addr);
  addr->sun_family = AF_UNIX;
  if (path.size() >= sizeof addr->sun_path) return false;
  memcpy(addr->sun_path, path.c_str(), path.size() + 1);
  return true;
}

double now_seconds() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

// Asks the running copy to show itself. Best effort: the copy may still be starting,
// in which case the request is simply lost.
void ask_to_show(const std::string &dir) {
  sockaddr_un addr;
  if (!socket_address(dir + "/" + socket_name, &addr)) return;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  if (connect(fd, (sockaddr *)&addr, sizeof addr) == 0) {
    // The launcher's startup id (X11) or activation token (Wayland) lets the desktop
    // accept the running copy's window coming to the front, as if this start opened it.
    const char *id = getenv("DESKTOP_STARTUP_ID");
    if (!id || !*id) id = getenv("XDG_ACTIVATION_TOKEN");
    std::string message = std::string("show ") + (id ? id : "") + "\n";
    if (message.size() > 512) message = "show \n";
    ssize_t ignored = send(fd, message.data(), message.size(), MSG_NOSIGNAL);
    (void)ignored;
  }
  close(fd);
}

void listen_for_show(const std::string &dir) {
  sockaddr_un addr;
  std::string path = dir + "/" + socket_name;
  if (!socket_address(path, &addr)) return;
  unlink(path.c_str());  // left by a copy that ended; we hold the lock, so it is not live
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  mode_t old = umask(077);
  int bound = bind(fd, (sockaddr *)&addr, sizeof addr);
  umask(old);
  if (bound != 0 || chmod(path.c_str(), 0600) != 0 || listen(fd, 8) != 0) {
    close(fd);
    return;
  }
  instance.show_fd = fd;
}

gboolean on_show_connection(gint fd, GIOCondition, gpointer) {
  int conn = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
  if (conn < 0) return G_SOURCE_CONTINUE;
  // Only our own user may ask (the folder and socket are private, this double-checks).
  ucred cred;
  socklen_t len = sizeof cred;
  bool same_user = getsockopt(conn, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && cred.uid == getuid();
  char buf[520];
  size_t got = 0;
  if (same_user) {
    timeval tv = {1, 0};
    setsockopt(conn, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    while (got < sizeof buf - 1) {
      ssize_t n = recv(conn, buf + got, sizeof buf - 1 - got, 0);
      if (n <= 0) break;
      got += (size_t)n;
      if (memchr(buf, '\n', got)) break;
    }
  }
  close(conn);
  buf[got] = 0;
  if (!same_user || strncmp(buf, "show ", 5) != 0) return G_SOURCE_CONTINUE;
  char *id = buf + 5;
  id[strcspn(id, "\r\n")] = 0;
  if (instance.show_handler) instance.show_handler(id);
  return G_SOURCE_CONTINUE;
}

}  // namespace

std::string runtime_folder(void) {
  const char *runtime = getenv("XDG_RUNTIME_DIR");
  if (runtime && runtime[0] == '/' && private_folder(runtime)) return runtime;
  std::string dir = "/tmp/mosswire-" + std::to_string(getuid());
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return "";
  return private_folder(dir) ? dir : "";
}

bool instance_check(bool after_update) {
  std::string dir = runtime_folder();
  if (dir.empty()) {  // no lock possible: run without the rule
    log_failure("single instance", "no private runtime folder for the lock");
    return false;
  }
  std::string path = dir + "/" + lock_name;
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  bool owned = flock(fd, LOCK_EX | LOCK_NB) == 0;
  if (!owned && after_update) {
    // The copy that installed the update is still ending; wait for it to let go.
    double deadline = now_seconds() + 30.0;
    while (!owned && now_seconds() < deadline) {
      usleep(50000);
      owned = flock(fd, LOCK_EX | LOCK_NB) == 0;
    }
  }
  if (owned) {
    instance.lock_fd = fd;
    listen_for_show(dir);
    return false;
  }
  close(fd);
  ask_to_show(dir);
  return true;
}

void instance_watch_show(void (*on_show)(const char *startup_id)) {
  instance.show_handler = on_show;
  if (instance.show_fd >= 0) g_unix_fd_add(instance.show_fd, G_IO_IN, on_show_connection, nullptr);
}
