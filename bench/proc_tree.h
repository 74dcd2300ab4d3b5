#pragma once
// A started program and every process below it (the web and network processes, the
// sandbox's helpers), read from /proc: which they are and the CPU time they used.
#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

// `root` first, then its children, their children and so on.
std::vector<pid_t> tree_of(pid_t root);

// The short name /proc gives the process ("?" once it has ended).
std::string process_name(pid_t pid);

struct cpu_reading {
  double at_ms = 0;                  // CLOCK_MONOTONIC when read
  std::map<pid_t, long long> ticks;  // user + system time, with that of children reaped
};

cpu_reading read_cpu(pid_t root);

struct cpu_use {
  double percent = 0;  // of one core, over the time between the readings
  std::string detail;  // each process that used any: its name and share
};

// What the tree used between two readings; a process that began in between counts whole.
cpu_use cpu_between(const cpu_reading &before, const cpu_reading &after);
