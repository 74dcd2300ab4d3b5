#include "app/platform/process.h"

#include <limits.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

extern char **environ;

// The whole program in one file, as the release workflow names it for this system.
const char release_asset_name[] = "mosswire-linux-x86_64";

std::string executable_path(void) {
  char buffer[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0 || n >= (ssize_t)sizeof buffer - 1) return "";
  return std::string(buffer, (size_t)n);
}

/*
 * The new copy must not inherit this process's descriptors: the single-instance lock, the
 * listening socket or the display connection would stay open in it, and the lock it waits
 * for would then never be released. Signals start from their defaults, unblocked.
 */
void process_prepare(void) { signal(SIGPIPE, SIG_IGN); }

static bool spawn_detached(const std::string &program, const char *arg) {
  char *argv[] = {const_cast<char *>(program.c_str()), const_cast<char *>(arg), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  if (posix_spawn_file_actions_init(&actions) != 0) return false;
  if (posix_spawnattr_init(&attributes) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return false;
  }
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid;
  // The child outlives this process, which quits right away; init reaps it.
  int rc = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0;
}

bool relaunch_after_update(const std::string &executable) {
  return spawn_detached(executable, "--after-update");
}
