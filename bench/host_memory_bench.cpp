// Benchmark: start-up and memory of the program beside a bare WebKitGTK window, in one run
// on the current display. Each round starts, in turn:
//   - the window-test variant of the program and the bare window on the same small page
//     (its first script calls msw_mark): time from process start to that script, then
//     memory once the page has been idle a few seconds;
//   - the real program and the bare window on the same page files, each in a fresh home,
//     driven through the same page steps by bench/unlock-driver.js (run in the page by the
//     GTK module libmsw_page_driver.so, which both load, so the program has no hook of its
//     own): a first run that sets a PIN, then a second start that unlocks the empty vault.
//     The bare window has no host: tests/browser/natives.js stands in for the native
//     functions. Times of the second start: process start to the page loaded and to the
//     main screen; memory once the unlocked page has been idle a few seconds.
// Memory is summed over the started process and every process below it (the web and
// network processes, and the sandbox's helpers): Private_Dirty and Pss from
// /proc/PID/smaps_rollup. Prints figures and the load average; not a test.
//
//   host_memory_bench SOURCE_DIR BUILD_DIR INVITE_CODE [ROUNDS]
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "bench_figures.h"
#include "driver_file.h"
#include "proc_tree.h"
#include "process_util.h"

namespace {

const int idle_ms = 5000;

struct memory {
  long private_kb = 0, pss_kb = 0;
  int processes = 0;
  std::string detail;  // each process's name and private memory
};

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
    long private_kb = 0;
    while (fgets(line, sizeof line, f)) {
      long kb = 0;
      if (sscanf(line, "Private_Dirty: %ld", &kb) == 1) m.private_kb += kb, private_kb += kb;
      if (sscanf(line, "Pss: %ld", &kb) == 1) m.pss_kb += kb;
    }
    fclose(f);
    if (private_kb >= 1024) m.detail += std::string(m.detail.empty() ? "" : ", ") + process_name(pid) + " " +
                                        std::to_string(private_kb / 1024) + " MB";
  }
  return m;
}

struct subject {
  const char *name;
  std::vector<std::string> argv;
  std::vector<double> start_ms, unlock_ms, private_mb, pss_mb;
};

double mark_ms(int out, const char *name, double since, int timeout_ms) {
  std::string prefix = std::string("mark ") + name + " ";
  std::string line = read_line_with(out, prefix, timeout_ms);
  if (line.empty()) return -1;
  return atoll(line.c_str() + prefix.size()) / 1e6 - since;
}

void stop(pid_t pid, int out) {
  kill(pid, SIGTERM);
  if (wait_exit(pid, 10000) == -1) kill_and_reap(pid);
  close_reader(out);
}

void record(subject &s, pid_t pid) {
  memory m = measure(pid);
  s.private_mb.push_back(m.private_kb / 1024.0);
  s.pss_mb.push_back(m.pss_kb / 1024.0);
  printf("  %-34s", s.name);
  if (!s.start_ms.empty()) printf(" start %5.0f ms", s.start_ms.back());
  if (!s.unlock_ms.empty()) printf("  unlocked %5.0f ms", s.unlock_ms.back());
  printf("  private %6.1f MB  pss %6.1f MB  (%d processes: %s)\n", m.private_kb / 1024.0, m.pss_kb / 1024.0,
         m.processes, m.detail.c_str());
  fflush(stdout);
}

std::vector<std::string> quiet_env(const temp_home &home) {
  std::vector<std::string> env = home.env();
  env.push_back("NO_AT_BRIDGE=1");
  env.push_back("GTK_A11Y=none");
  return env;
}

// The small test page: process start to its first script, memory once idle.
void run_test_page(subject &s) {
  temp_home home;
  int out = -1;
  double start = monotonic_ms();
  pid_t pid = spawn_program(s.argv, quiet_env(home), &out);
  double first = mark_ms(out, "first-script", start, 60000);
  if (first < 0) fprintf(stderr, "%s: the page never reported\n", s.name);
  else s.start_ms.push_back(first);
  usleep(idle_ms * 1000);
  record(s, pid);
  stop(pid, out);
}

// The real page: a first run in a fresh home, then a second start that unlocks.
void run_unlocked(subject &s, const std::vector<std::string> &driven) {
  temp_home home;
  std::vector<std::string> env = quiet_env(home);
  env.insert(env.end(), driven.begin(), driven.end());
  int out = -1;
  pid_t pid = spawn_program(s.argv, env, &out);
  double set_up = mark_ms(out, "first-run", monotonic_ms(), 90000);
  // The page saves in the background after the first run; give it time to land.
  usleep(2000 * 1000);
  stop(pid, out);
  if (set_up < 0) {
    fprintf(stderr, "%s: the first run never reached the main screen\n", s.name);
    return;
  }
  double start = monotonic_ms();
  pid = spawn_program(s.argv, env, &out);
  double loaded = mark_ms(out, "loaded", start, 60000);
  double unlocked = loaded < 0 ? -1 : mark_ms(out, "unlocked", start, 120000);
  if (unlocked < 0) {
    fprintf(stderr, "%s: the second start never unlocked\n", s.name);
    stop(pid, out);
    return;
  }
  s.start_ms.push_back(loaded);
  s.unlock_ms.push_back(unlocked);
  usleep((idle_ms + 3000) * 1000);
  record(s, pid);
  stop(pid, out);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: host_memory_bench SOURCE_DIR BUILD_DIR INVITE_CODE [ROUNDS]\n");
    return 2;
  }
  std::string source = argv[1], build = argv[2];
  int rounds = argc > 4 ? atoi(argv[4]) : 3;
  std::string bare = build + "/bench/bare_window";

  // The driver script with this run's invite code in front.
  temp_home work;
  std::string driver = work.dir + "/driver.js";
  if (!write_driver_file(driver, {{"__mswBenchInvite", argv[3]}}, {source + "/bench/unlock-driver.js"})) {
    fprintf(stderr, "cannot write the page driver\n");
    return 1;
  }
  std::vector<std::string> driven = {"GTK_MODULES=" + build + "/bench/libmsw_page_driver.so",
                                     "MSW_PAGE_DRIVER=" + driver};

  std::vector<subject> test_page = {
      {"mosswire host, test page", {build + "/tests/host/mosswire_hosttest"}, {}, {}, {}, {}},
      {"bare window, test page", {bare, "file://" + source + "/tests/host/web/index.html"}, {}, {}, {}, {}},
  };
  std::vector<subject> unlocked = {
      {"mosswire, unlocked (empty vault)", {build + "/mosswire"}, {}, {}, {}, {}},
      {"bare window, same page, unlocked",
       {bare, "file://" + build + "/web/index.html", source + "/tests/browser/natives.js",
        source + "/bench/bare-natives.js"},
       {}, {}, {}, {}},
  };
  for (int r = 0; r < rounds; r++) {
    printf("round %d (load average %s)\n", r + 1, load_average().c_str());
    for (subject &s : test_page) run_test_page(s);
    for (subject &s : unlocked) run_unlocked(s, driven);
  }
  printf("medians of %d rounds, load average at the end %s\n", rounds, load_average().c_str());
  printf("(test page: start is process start to its first script; unlocked: start is the second start to the\n"
         " page loaded, unlocked to the main screen; memory after %d s idle)\n", idle_ms / 1000);
  for (std::vector<subject> *group : {&test_page, &unlocked})
    for (subject &s : *group) {
      printf("  %-34s start %5.0f ms", s.name, median(s.start_ms));
      if (!s.unlock_ms.empty()) printf("  unlocked %5.0f ms", median(s.unlock_ms));
      else printf("                  ");
      printf("  private %6.1f MB  pss %6.1f MB\n", median(s.private_mb), median(s.pss_mb));
    }
  auto ratio = [](const std::vector<double> &a, const std::vector<double> &b) {
    return median(b) > 0 ? median(a) / median(b) : 0;
  };
  printf("mosswire / bare: test page private %.2fx, start %.2fx; unlocked private %.2fx, pss %.2fx, "
         "start %.2fx, unlock %.2fx\n",
         ratio(test_page[0].private_mb, test_page[1].private_mb), ratio(test_page[0].start_ms, test_page[1].start_ms),
         ratio(unlocked[0].private_mb, unlocked[1].private_mb), ratio(unlocked[0].pss_mb, unlocked[1].pss_mb),
         ratio(unlocked[0].start_ms, unlocked[1].start_ms), ratio(unlocked[0].unlock_ms, unlocked[1].unlock_ms));
  return 0;
}
