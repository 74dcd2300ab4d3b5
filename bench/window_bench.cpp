// Benchmark: the real window beside a bare WebKitGTK window, on one display, in one run.
//   - Return -> own line painted. The program (build/mosswire, unlocked on General, the
//     composer focused) talks through a real relay with a second copy of the program in
//     General; bench/bare_window shows bench/bare-chat.html, a focused input that appends
//     a line to a list on Return. Taking turns, each gets a text typed through XTEST and
//     then Return; the log's rectangle of the screen is read through MIT-SHM until any
//     pixel of it changes. One sample is the time from the XTEST key press to the read that
//     first saw the change; for the program, also until the other member's log changed.
//     A sample counts only when the page then reports the typed text as its last line.
//   - Idle CPU. Each window in turn has the keyboard focus and its composer (its input)
//     focused, nobody typing: the CPU its process tree (the started process and every
//     process below it) uses over IDLE_SECONDS, from /proc utime + stime, in % of one core:
//     the program, the bare window showing the same page files (tests/browser/natives.js
//     standing in for the native functions, joined and unlocked the same way), and the
//     bare window showing the bare page.
// The real page is driven by bench/unlock-driver.js, bench/relay-steer.js and
// bench/window-driver.js, run in it
// by the GTK module libmsw_page_driver.so, so the program needs no hook of its own. Needs
// a display large enough for four 1100x720 windows side by side (bench/window_run.sh
// starts one). Prints figures and the load average; not a test.
//
//   window_bench SOURCE_DIR BUILD_DIR [SAMPLES] [IDLE_SECONDS]
// Environment: POLL_US, the pause between two reads of the screen (default 1000);
// BARE_DELAY_MS and BARE_BURN_MS add work to the bare page (see bench/bare-chat.html), to
// check that the figures see what a page does; BARE_ENGINE_DEFAULTS=1 runs the bare window
// with the engine's default settings instead of the program's way of painting; SHOTS=DIR
// keeps each sample's first changed read of the log as DIR/TEXT.ppm.
#include <X11/keysym.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "bench_figures.h"
#include "driver_file.h"
#include "proc_tree.h"
#include "process_util.h"
#include "x_input.h"
#include "x_screen.h"
#include "x_session.h"

namespace {

struct rect {
  int x = 0, y = 0, width = 0, height = 0;
};

enum class start_kind { bare_page, first_run, unlocked };

struct subject {
  std::string name;
  std::vector<std::string> argv, env;
  std::unique_ptr<temp_home> home = std::make_unique<temp_home>();
  pid_t pid = -1;
  int out = -1;
  Window window = 0;
  rect log, composer;  // in the window
  screen_region log_region;
  std::vector<double> paint_ms, other_ms;
};

subject make_subject(const std::string &name, const std::vector<std::string> &argv,
                     const std::vector<std::string> &env) {
  subject s;
  s.name = name;
  s.argv = argv;
  s.env = env;
  return s;
}

int env_int(const char *name, int fallback) {
  const char *v = getenv(name);
  return v && *v ? atoi(v) : fallback;
}

void stop(subject &s) {
  if (s.pid <= 0) return;
  kill(s.pid, SIGTERM);
  if (wait_exit(s.pid, 10000) == -1) kill_and_reap(s.pid);
  close_reader(s.out);
  s.pid = -1;
  s.out = -1;
}

// "mark ready@LX,LY,LW,LH/CX,CY,CW,CH NANOSECONDS", as both drivers report it.
bool read_ready(subject &s, int timeout_ms) {
  std::string line = read_line_with(s.out, "mark ready@", timeout_ms);
  rect &l = s.log, &c = s.composer;
  return !line.empty() && sscanf(line.c_str(), "mark ready@%d,%d,%d,%d/%d,%d,%d,%d", &l.x, &l.y, &l.width, &l.height,
                                 &c.x, &c.y, &c.width, &c.height) == 8;
}

// Starts the subject and waits until its page is ready on the main screen (the real page:
// after a first run, and for `unlocked` a second start that unlocks what the first saved).
bool start(x_session *x, subject &s, start_kind kind) {
  std::vector<std::string> env = s.home->env();
  env.insert(env.end(), s.env.begin(), s.env.end());
  s.pid = spawn_program(s.argv, env, &s.out);
  if (kind != start_kind::bare_page) {
    bool set_up = !read_line_with(s.out, "mark first-run ", 120000).empty();
    if (!set_up) fprintf(stderr, "%s: the first run never reached the main screen\n", s.name.c_str());
    if (!set_up || kind == start_kind::unlocked) {
      // The page saves in the background after the first run; give it time to land.
      if (set_up) usleep(2000 * 1000);
      stop(s);
      if (!set_up) return false;
      s.pid = spawn_program(s.argv, env, &s.out);
      if (read_line_with(s.out, "mark unlocked ", 120000).empty()) {
        fprintf(stderr, "%s: the second start never unlocked\n", s.name.c_str());
        return false;
      }
    }
  }
  if (!read_ready(s, 90000)) {
    fprintf(stderr, "%s: the page never reported itself ready (online, on General)\n", s.name.c_str());
    return false;
  }
  for (int tries = 0; tries < 100 && !s.window; tries++) {
    s.window = x_find_window(x, s.pid);
    if (!s.window) usleep(100000);
  }
  if (!s.window) fprintf(stderr, "%s: no window of its own on the display\n", s.name.c_str());
  return s.window != 0;
}

// Puts the window at (left, top) and opens the screen rectangle of its log there.
bool place(x_session *x, subject &s, int left, int top) {
  int l, t, width, height;
  if (!x_place(x, s.window, left, top) || !x_geometry(x, s.window, &l, &t, &width, &height)) return false;
  const rect &g = s.log;
  if (g.x < 0 || g.y < 0 || g.width < 8 || g.height < 8 || g.x + g.width > width || g.y + g.height > height ||
      l + width > DisplayWidth(x->dpy, DefaultScreen(x->dpy)) ||
      t + height > DisplayHeight(x->dpy, DefaultScreen(x->dpy))) {
    fprintf(stderr, "%s: its window (%dx%d at %d,%d) or log (%dx%d at %d,%d) is not wholly on the screen\n",
            s.name.c_str(), width, height, l, t, g.width, g.height, g.x, g.y);
    return false;
  }
  return region_open(x, &s.log_region, l + g.x, t + g.y, g.width, g.height);
}

void focus_composer(x_session *x, subject &s) {
  x_click_at(x, s.window, s.composer.x + s.composer.width / 2, s.composer.y + s.composer.height / 2);
}

const int change_limit_ms = 5000;
// How long the logs must stay still before Return: longer than the other member takes to
// confirm the previous line (its receipt batch waits 1.5 s), so that line's mark turning
// to "delivered" is never taken for the new line.
const int still_ms = 2500;

// One sample: the text typed into the subject's composer, then Return. `other` is the
// member whose log shows the line too, or null.
void sample(x_session *x, subject &s, subject *other, const std::string &text, int poll_us) {
  focus_composer(x, s);
  usleep(300000);
  x_type(x, text);
  bool quiet = region_settle(x, &s.log_region, still_ms, 10000);
  if (other) quiet = region_settle(x, &other->log_region, still_ms, 10000) && quiet;
  if (!quiet) fprintf(stderr, "%s: a log never stayed still for %d ms before Return\n", s.name.c_str(), still_ms);
  double pressed = x_tap(x, XK_Return);
  double painted = region_wait_change(x, &s.log_region, poll_us, change_limit_ms);
  // The other member's log is read once the sender's has changed: should it show the
  // line first, its time is that of the first read after the sender's change.
  double reached = other ? region_wait_change(x, &other->log_region, poll_us, change_limit_ms) : -1;
  if (const char *dir = getenv("SHOTS")) {
    std::string file = std::string(dir) + "/" + text + ".ppm";
    for (char &c : file) c = c == ' ' ? '-' : c;
    region_save(&s.log_region, file.c_str());
  }
  std::string mark = "mark line=" + text + " ";
  bool drawn = !read_line_with(s.out, mark, 5000).empty();
  bool arrived = other && !read_line_with(other->out, mark, 10000).empty();
  printf("    %-24s", s.name.c_str());
  if (painted < 0) printf(" no change in %d ms", change_limit_ms);
  else printf(" painted %6.1f ms", painted - pressed);
  if (!drawn) printf(" (but its last line is not \"%s\": not counted)", text.c_str());
  if (painted >= 0 && drawn) s.paint_ms.push_back(painted - pressed);
  if (other) {
    if (reached < 0 || !arrived) printf("  other member: no line");
    else {
      printf("  other member %6.1f ms", reached - pressed);
      other->other_ms.push_back(reached - pressed);
    }
  }
  printf("\n");
  fflush(stdout);
}

cpu_use idle_cpu(x_session *x, subject &s, int seconds) {
  focus_composer(x, s);
  usleep(3000 * 1000);
  cpu_reading before = read_cpu(s.pid);
  usleep(seconds * 1000000);
  cpu_use use = cpu_between(before, read_cpu(s.pid));
  printf("  %-34s %5.1f%% of a core  (%s)  load average %s\n", s.name.c_str(), use.percent, use.detail.c_str(),
         load_average().c_str());
  fflush(stdout);
  return use;
}

std::string driver_for(const std::string &source, const std::string &dir, const std::string &invite,
                       const std::string &port, const std::string &name) {
  std::string path = dir + "/driver-" + name + ".js";
  bool ok = write_driver_file(path, {{"__mswBenchInvite", invite}, {"__mswBenchRelayPort", port}, {"__mswBenchName", name}},
                              {source + "/bench/unlock-driver.js", source + "/bench/relay-steer.js",
                               source + "/bench/window-driver.js"});
  return ok ? path : "";
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: window_bench SOURCE_DIR BUILD_DIR [SAMPLES] [IDLE_SECONDS]\n");
    return 2;
  }
  std::string source = argv[1], build = argv[2];
  int samples = argc > 3 ? atoi(argv[3]) : 20;
  int idle_seconds = argc > 4 ? atoi(argv[4]) : 30;
  int poll_us = env_int("POLL_US", 1000);
  int bare_delay = env_int("BARE_DELAY_MS", 0), bare_burn = env_int("BARE_BURN_MS", 0);
  bool engine_defaults = env_int("BARE_ENGINE_DEFAULTS", 0) != 0;
  signal(SIGPIPE, SIG_IGN);

  x_session x;
  if (!x_open(&x)) {
    fprintf(stderr, "no display\n");
    return 1;
  }
  int relay_out = -1;
  pid_t relay = spawn_program({"/usr/bin/env", "node", source + "/bench/window-relay.js", "3"}, {}, &relay_out);
  std::string port_line = read_line_with(relay_out, "relay ", 30000);
  std::vector<std::string> invites;
  for (int i = 0; i < 3 && !port_line.empty(); i++) invites.push_back(read_line_with(relay_out, "invite ", 30000));
  if (port_line.empty() || invites.back().size() < 16) {
    fprintf(stderr, "the relay did not start\n");
    kill_and_reap(relay);
    return 1;
  }
  for (std::string &code : invites) code.erase(0, 7);
  std::string port = port_line.substr(6);

  temp_home work;
  std::vector<std::string> drivers;
  for (size_t i = 0; i < invites.size(); i++)
    drivers.push_back(driver_for(source, work.dir, invites[i], port, "bench" + std::to_string(i + 1)));
  std::vector<std::string> quiet = {"NO_AT_BRIDGE=1", "GTK_A11Y=none"};
  auto driven = [&](int i) {
    std::vector<std::string> env = quiet;
    env.push_back("GTK_MODULES=" + build + "/bench/libmsw_page_driver.so");
    env.push_back("MSW_PAGE_DRIVER=" + drivers[i]);
    return env;
  };
  // The bare window paints as the program does unless asked for the engine's defaults:
  // with those it composites through GL, which under Xvfb is software GL and paints later.
  std::vector<std::string> bare = {build + "/bench/bare_window"};
  if (!engine_defaults) bare.push_back("--paint-as-program");
  auto bare_with = [&](std::vector<std::string> args) {
    args.insert(args.begin(), bare.begin(), bare.end());
    return args;
  };
  std::string bare_page = "file://" + source + "/bench/bare-chat.html#delay=" + std::to_string(bare_delay) +
                          "&burn=" + std::to_string(bare_burn);
  subject sender = make_subject("mosswire", {build + "/mosswire"}, driven(0));
  subject member = make_subject("mosswire, other member", {build + "/mosswire"}, driven(1));
  subject bare_chat = make_subject("bare window, bare page", bare_with({bare_page}), quiet);
  subject bare_same = make_subject("bare window, same page",
                                   bare_with({"file://" + build + "/web/index.html",
                                              source + "/tests/browser/natives.js", source + "/bench/bare-natives.js"}),
                                   driven(2));

  printf("window benchmark: relay on port %s; the bare window paints %s; load average %s\n", port.c_str(),
         engine_defaults ? "with the engine's defaults (GL compositing)" : "as the program does (no GL compositing)",
         load_average().c_str());
  fflush(stdout);
  int status = 1;
  do {
    if (!start(&x, sender, start_kind::unlocked) || !start(&x, member, start_kind::first_run) ||
        !start(&x, bare_chat, start_kind::bare_page))
      break;
    int w = 0, h = 0, l, t;
    x_geometry(&x, sender.window, &l, &t, &w, &h);
    if (!place(&x, sender, 0, 0) || !place(&x, bare_chat, w + 20, 0) || !place(&x, member, 0, h + 20)) break;

    printf("Return -> own line painted: %d samples each, taking turns; the screen read every %d us%s\n", samples,
           poll_us, bare_delay || bare_burn ? " (the bare page has work added)" : "");
    for (int i = 0; i < samples; i++) {
      printf("  sample %d, load average %s\n", i + 1, load_average().c_str());
      std::string n = std::to_string(i + 1);
      if (i % 2 == 0) {
        sample(&x, sender, &member, "ping " + n, poll_us);
        sample(&x, bare_chat, nullptr, "bare " + n, poll_us);
      } else {
        sample(&x, bare_chat, nullptr, "bare " + n, poll_us);
        sample(&x, sender, &member, "ping " + n, poll_us);
      }
    }
    std::string paint_load = load_average();

    if (!start(&x, bare_same, start_kind::unlocked) || !place(&x, bare_same, w + 20, h + 20)) break;
    printf("Idle, unlocked on General with the composer focused, nobody typing: CPU of the process tree over %d s\n",
           idle_seconds);
    cpu_use idle_sender = idle_cpu(&x, sender, idle_seconds);
    cpu_use idle_same = idle_cpu(&x, bare_same, idle_seconds);
    cpu_use idle_bare = idle_cpu(&x, bare_chat, idle_seconds);

    printf("\nReturn -> own line painted (XTEST key press to the first changed pixel of the log), load average %s\n",
           paint_load.c_str());
    printf("  %-34s %s\n", "mosswire", summary_text(sender.paint_ms).c_str());
    printf("  %-34s %s\n", "bare page, same engine", summary_text(bare_chat.paint_ms).c_str());
    double bare_median = median(bare_chat.paint_ms);
    if (bare_median > 0 && !sender.paint_ms.empty())
      printf("  mosswire / bare page: %.2fx\n", median(sender.paint_ms) / bare_median);
    printf("  %-34s %s\n", "line in the other member's log", summary_text(member.other_ms).c_str());
    printf("Idle CPU over %d s, %% of one core, load average %s\n", idle_seconds, load_average().c_str());
    printf("  mosswire %.1f%%, bare window with the same page %.1f%%, bare window with the bare page %.1f%%\n",
           idle_sender.percent, idle_same.percent, idle_bare.percent);
    if (idle_same.percent > 0) printf("  mosswire / bare window, same page: %.2fx\n", idle_sender.percent / idle_same.percent);
    status = 0;
  } while (false);

  for (subject *s : {&sender, &member, &bare_chat, &bare_same}) {
    region_close(&x, &s->log_region);
    stop(*s);
  }
  kill(relay, SIGTERM);
  if (wait_exit(relay, 10000) == -1) kill_and_reap(relay);
  close_reader(relay_out);
  x_close(&x);
  return status;
}
