#include "proc_tree.h"

#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

namespace {

// The fields after the name in /proc/PID/stat; the name may hold spaces and parens.
bool stat_fields(pid_t pid, std::string *after_name) {
  char path[64], text[1024];
  snprintf(path, sizeof path, "/proc/%d/stat", pid);
  FILE *f = fopen(path, "r");
  if (!f) return false;
  size_t n = fread(text, 1, sizeof text - 1, f);
  fclose(f);
  text[n] = 0;
  const char *close_paren = strrchr(text, ')');
  if (!close_paren || close_paren[1] != ' ') return false;
  *after_name = close_paren + 2;
  return true;
}

double now_ms() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

}  // namespace

std::vector<pid_t> tree_of(pid_t root) {
  std::multimap<pid_t, pid_t> children;
  DIR *proc = opendir("/proc");
  while (dirent *e = proc ? readdir(proc) : nullptr) {
    pid_t pid = atoi(e->d_name);
    std::string fields;
    int ppid = 0;
    if (pid > 0 && stat_fields(pid, &fields) && sscanf(fields.c_str(), "%*c %d", &ppid) == 1)
      children.emplace(ppid, pid);
  }
  if (proc) closedir(proc);
  std::vector<pid_t> tree{root};
  for (size_t i = 0; i < tree.size(); i++) {
    auto range = children.equal_range(tree[i]);
    for (auto it = range.first; it != range.second; ++it) tree.push_back(it->second);
  }
  return tree;
}

std::string process_name(pid_t pid) {
  char path[64], name[64] = "?";
  snprintf(path, sizeof path, "/proc/%d/comm", pid);
  if (FILE *c = fopen(path, "r")) {
    if (fgets(name, sizeof name, c)) name[strcspn(name, "\n")] = 0;
    fclose(c);
  }
  return name;
}

cpu_reading read_cpu(pid_t root) {
  cpu_reading r;
  for (pid_t pid : tree_of(root)) {
    std::string fields;
    long long utime = 0, stime = 0, cutime = 0, cstime = 0;
    // state ppid pgrp session tty tpgid flags minflt cminflt majflt cmajflt utime stime cutime cstime
    if (stat_fields(pid, &fields) &&
        sscanf(fields.c_str(), "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lld %lld %lld %lld", &utime, &stime,
               &cutime, &cstime) == 4)
      r.ticks[pid] = utime + stime + cutime + cstime;
  }
  r.at_ms = now_ms();
  return r;
}

cpu_use cpu_between(const cpu_reading &before, const cpu_reading &after) {
  cpu_use use;
  double seconds = (after.at_ms - before.at_ms) / 1000.0;
  if (seconds <= 0) return use;
  double per_tick = 100.0 / sysconf(_SC_CLK_TCK) / seconds;
  std::vector<std::pair<long long, pid_t>> used;
  long long total = 0;
  for (const auto &[pid, ticks] : after.ticks) {
    auto was = before.ticks.find(pid);
    long long d = ticks - (was == before.ticks.end() ? 0 : was->second);
    total += d;
    if (d > 0) used.emplace_back(d, pid);
  }
  std::sort(used.rbegin(), used.rend());
  for (const auto &[d, pid] : used) {
    char part[96];
    snprintf(part, sizeof part, "%s%s %.1f", use.detail.empty() ? "" : ", ", process_name(pid).c_str(), d * per_tick);
    use.detail += part;
  }
  use.percent = total * per_tick;
  return use;
}
