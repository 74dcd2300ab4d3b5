#pragma once
// Running real programs from tests: a private set of XDG folders, spawning with extra
// environment, waiting with a time limit and reading what a child prints.
#include <sys/types.h>

#include <string>
#include <vector>

// A fresh 0700 folder under /tmp, removed (with its contents) when the object goes.
struct temp_home {
  std::string dir;
  temp_home();
  ~temp_home();
  // XDG_RUNTIME_DIR, XDG_DATA_HOME, XDG_CONFIG_HOME and HOME inside the folder.
  std::vector<std::string> env() const;
};

// Starts argv[0] with the current environment plus `extra` ("NAME=value"). When
// `out_fd` is given, it receives the read end of the child's stdout.
pid_t spawn_program(const std::vector<std::string> &argv, const std::vector<std::string> &extra,
                    int *out_fd = nullptr);

// The exit code, -2 when the child died of a signal, -1 when it is still running after
// timeout_ms (it is left running).
int wait_exit(pid_t pid, int timeout_ms);

// Kills and reaps a child that may still run.
void kill_and_reap(pid_t pid);

// Reads from fd until a line starting with `prefix` arrives or timeout_ms pass; answers
// the line, or empty.
std::string read_line_with(int fd, const std::string &prefix, int timeout_ms);

// Closes a pipe read with read_line_with and forgets what was left unread on it.
void close_reader(int fd);

double monotonic_ms();
