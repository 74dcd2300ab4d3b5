#include "app/platform/linux/spawn.h"

#include <limits.h>
#include <spawn.h>
#include <unistd.h>

extern char **environ;

std::string executable_path(void) {
  char buffer[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0 || n >= (ssize_t)sizeof buffer - 1) return "";
  return std::string(buffer, (size_t)n);
}

bool spawn_detached(const std::string &program, const char *arg) {
  char *argv[] = {const_cast<char *>(program.c_str()), const_cast<char *>(arg), nullptr};
  pid_t pid;
  // The child outlives this process, which quits right away; init reaps it.
  return posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ) == 0;
}
