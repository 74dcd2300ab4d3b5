// Benchmark: time from process start to the page's first script running. It starts the
// window-test variant of the program (same host, a small page whose first script reports
// through the bridge) on the current display, several times, each with fresh folders.
// Prints figures; not a test.
//
//   host_startup_bench VARIANT [ROUNDS]
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "process_util.h"

int main(int argc, char **argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: host_startup_bench VARIANT [ROUNDS]\n");
    return 2;
  }
  int rounds = argc > 2 ? atoi(argv[2]) : 5;
  std::vector<double> times;
  for (int r = 0; r < rounds; r++) {
    temp_home home;
    std::vector<std::string> env = home.env();
    env.push_back("NO_AT_BRIDGE=1");
    env.push_back("GTK_A11Y=none");
    int out = -1;
    double start_ms = monotonic_ms();
    pid_t pid = spawn_program({argv[1]}, env, &out);
    std::string line = read_line_with(out, "mark first-script ", 60000);
    kill(pid, SIGTERM);
    wait_exit(pid, 10000);
    kill_and_reap(pid);
    close_reader(out);
    if (line.empty()) {
      fprintf(stderr, "round %d: the page never reported\n", r + 1);
      continue;
    }
    double mark_ms = atoll(line.c_str() + 18) / 1e6;
    times.push_back(mark_ms - start_ms);
    printf("  round %d: %.0f ms%s\n", r + 1, mark_ms - start_ms, r == 0 ? " (cold: new browser data folder)" : "");
  }
  if (times.empty()) return 1;
  std::sort(times.begin(), times.end());
  printf("process start to the page's first script: min %.0f ms  median %.0f ms  max %.0f ms (%zu rounds)\n",
         times.front(), times[times.size() / 2], times.back(), times.size());
  return 0;
}
