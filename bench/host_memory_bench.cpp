// Benchmark: start-up and memory of the program beside a bare WebKitGTK window, in one run
// on the current display. Each round starts, in turn:
//   - the window-test variant of the program and the bare window on the same small page
//     (its first script calls msw_mark): time from process start to that script, then
//     memory once the page has been idle a few seconds;
//   - the real program (empty data folders: the unlock screen) and the bare window on the
//     same page files from a folder: memory once idle.
// Memory is summed over the started process and every process below it (the web and
// network processes, and the sandbox's helpers): Private_Dirty and Pss from
// /proc/PID/smaps_rollup. Prints figures; not a test.
//
//   host_memory_bench HOSTTEST MOSSWIRE BARE TEST_PAGE_DIR PAGE_DIR [ROUNDS]
#include <dirent.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "process_util.h"

namespace {

const int idle_ms = 5000;

struct memory {
  long private_kb = 0, pss_kb = 0;
  int processes = 0;
};

std::vector<pid_t> tree_of(pid_t root) {
  std::multimap<pid_t, pid_t> children;
  DIR *proc = opendir("/proc");
  while (dirent *e = proc ? readdir(proc) : nullptr) {
    pid_t pid = atoi(e->d_name);
    if (pid <= 0) continue;
    char path[64], text[512];
    snprintf(path, sizeof path, "/proc/%d/stat", pid);
    FILE *f = fopen(path, "r");
    if (!f) continue;
    size_t n = fread(text, 1, sizeof text - 1, f);
    fclose(f);
    text[n] = 0;
    const char *close_paren = strrchr(text, ')');  // the name may hold spaces and parens
    int ppid = 0;
    if (close_paren && sscanf(close_paren + 2, "%*c %d", &ppid) == 1) children.emplace(ppid, pid);
  }
  if (proc) closedir(proc);
  std::vector<pid_t> tree{root};
  for (size_t i = 0; i < tree.size(); i++) {
    auto range = children.equal_range(tree[i]);
    for (auto it = range.first; it != range.second; ++it) tree.push_back(it->second);
  }
  return tree;
}

memory measure(pid_t root) {
  memory m;
  for (pid_t pid : tree_of(root)) {
    char path[64], line[256];
    snprintf(path, sizeof path, "/proc/%d/smaps_rollup", pid);
    FILE *f = fopen(path, "r");
    if (!f) {
      fprintf(stderr, "cannot read %s\n", path);
      continue;
    }
    m.processes++;
    while (fgets(line, sizeof line, f)) {
      long kb = 0;
      if (sscanf(line, "Private_Dirty: %ld", &kb) == 1) m.private_kb += kb;
      if (sscanf(line, "Pss: %ld", &kb) == 1) m.pss_kb += kb;
    }
    fclose(f);
  }
  return m;
}

struct subject {
  const char *name;
  std::vector<std::string> argv;
  bool marks;  // the page reports its first script
  std::vector<double> start_ms, private_mb, pss_mb;
};

void run_once(subject &s) {
  temp_home home;
  std::vector<std::string> env = home.env();
  env.push_back("NO_AT_BRIDGE=1");
  env.push_back("GTK_A11Y=none");
  int out = -1;
  double start = monotonic_ms();
  pid_t pid = spawn_program(s.argv, env, &out);
  if (s.marks) {
    std::string line = read_line_with(out, "mark first-script ", 60000);
    if (line.empty())
      fprintf(stderr, "%s: the page never reported\n", s.name);
    else
      s.start_ms.push_back(atoll(line.c_str() + 18) / 1e6 - start);
  }
  usleep((s.marks ? idle_ms : idle_ms + 3000) * 1000);
  memory m = measure(pid);
  s.private_mb.push_back(m.private_kb / 1024.0);
  s.pss_mb.push_back(m.pss_kb / 1024.0);
  printf("  %-34s %s private %6.1f MB  pss %6.1f MB  (%d processes)\n", s.name,
         s.marks && !s.start_ms.empty() ? (std::to_string((int)s.start_ms.back()) + " ms").c_str() : "        ",
         m.private_kb / 1024.0, m.pss_kb / 1024.0, m.processes);
  fflush(stdout);
  kill(pid, SIGTERM);
  if (wait_exit(pid, 10000) == -1) kill_and_reap(pid);
  close_reader(out);
}

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 6) {
    fprintf(stderr, "usage: host_memory_bench HOSTTEST MOSSWIRE BARE TEST_PAGE_DIR PAGE_DIR [ROUNDS]\n");
    return 2;
  }
  int rounds = argc > 6 ? atoi(argv[6]) : 3;
  std::string test_page = std::string("file://") + argv[4] + "/index.html";
  std::string page = std::string("file://") + argv[5] + "/index.html";
  std::vector<subject> subjects = {
      {"mosswire host, test page", {argv[1]}, true, {}, {}, {}},
      {"bare window, test page", {argv[3], test_page}, true, {}, {}, {}},
      {"mosswire, real page (unlock screen)", {argv[2]}, false, {}, {}, {}},
      {"bare window, real page files", {argv[3], page}, false, {}, {}, {}},
  };
  for (int r = 0; r < rounds; r++) {
    printf("round %d\n", r + 1);
    for (subject &s : subjects) run_once(s);
  }
  printf("medians of %d rounds (start: process start to the page's first script; memory after %d s idle)\n",
         rounds, idle_ms / 1000);
  for (subject &s : subjects) {
    printf("  %-36s", s.name);
    if (s.marks) printf(" start %5.0f ms", median(s.start_ms));
    else printf("               ");
    printf("  private %6.1f MB  pss %6.1f MB\n", median(s.private_mb), median(s.pss_mb));
  }
  printf("mosswire / bare, private: test page %.2fx, real page %.2fx; start: %.2fx\n",
         median(subjects[0].private_mb) / median(subjects[1].private_mb),
         median(subjects[2].private_mb) / median(subjects[3].private_mb),
         median(subjects[0].start_ms) / median(subjects[1].start_ms));
  return 0;
}
