#include "process_util.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <map>

extern char **environ;

temp_home::temp_home() {
  char pattern[] = "/tmp/mosswire-test-XXXXXX";
  char *made = mkdtemp(pattern);
  dir = made ? made : "";
  for (const char *sub : {"/data", "/config", "/cache"}) mkdir((dir + sub).c_str(), 0700);
}

temp_home::~temp_home() {
  if (dir.size() > 20) {
    std::string cmd = "rm -rf '" + dir + "'";
    int ignored = system(cmd.c_str());
    (void)ignored;
  }
}

std::vector<std::string> temp_home::env() const {
  return {"XDG_RUNTIME_DIR=" + dir, "XDG_DATA_HOME=" + dir + "/data", "XDG_CONFIG_HOME=" + dir + "/config",
          "XDG_CACHE_HOME=" + dir + "/cache", "HOME=" + dir};
}

pid_t spawn_program(const std::vector<std::string> &argv, const std::vector<std::string> &extra, int *out_fd) {
  std::vector<std::string> env_text;
  for (char **e = environ; *e; e++) {
    std::string entry = *e;
    bool replaced = false;
    for (const std::string &x : extra)
      if (entry.compare(0, x.find('=') + 1, x, 0, x.find('=') + 1) == 0) replaced = true;
    if (!replaced) env_text.push_back(entry);
  }
  for (const std::string &x : extra) env_text.push_back(x);
  std::vector<char *> envp, args;
  for (std::string &s : env_text) envp.push_back(&s[0]);
  envp.push_back(nullptr);
  std::vector<std::string> argv_copy = argv;
  for (std::string &s : argv_copy) args.push_back(&s[0]);
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  int pipe_fds[2] = {-1, -1};
  if (out_fd) {
    if (pipe2(pipe_fds, O_CLOEXEC) != 0) return -1;
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
  }
  pid_t pid = -1;
  if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  if (out_fd) {
    close(pipe_fds[1]);
    *out_fd = pipe_fds[0];
  }
  return pid;
}

double monotonic_ms() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

int wait_exit(pid_t pid, int timeout_ms) {
  double end = monotonic_ms() + timeout_ms;
  for (;;) {
    int status = 0;
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
    if (r < 0) return -3;
    if (monotonic_ms() > end) return -1;
    usleep(10000);
  }
}

void kill_and_reap(pid_t pid) {
  if (pid <= 0) return;
  if (wait_exit(pid, 0) != -1) return;
  kill(pid, SIGKILL);
  wait_exit(pid, 5000);
}

namespace {
// What arrived on each pipe beyond the lines handed out so far.
std::map<int, std::string> buffers;
}  // namespace

void close_reader(int fd) {
  if (fd < 0) return;
  buffers.erase(fd);
  close(fd);
}

std::string read_line_with(int fd, const std::string &prefix, int timeout_ms) {
  std::string &pending = buffers[fd];
  double end = monotonic_ms() + timeout_ms;
  for (;;) {
    size_t nl;
    while ((nl = pending.find('\n')) != std::string::npos) {
      std::string line = pending.substr(0, nl);
      pending.erase(0, nl + 1);
      if (line.compare(0, prefix.size(), prefix) == 0) return line;
    }
    int left = (int)(end - monotonic_ms());
    if (left <= 0) return "";
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, left) <= 0) return "";
    char buf[4096];
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) return "";
    pending.append(buf, (size_t)n);
  }
}
