// The real program under Xvfb. The variant built from the host test page reports what
// the page itself saw in the window title; the plain program is checked from outside.
//
//   window_test VARIANT PROGRAM TRAY_WATCHER   (under an X server and a session bus)
#include <gtest/gtest.h>

#include <X11/keysym.h>
#include <execinfo.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "process_util.h"
#include "x_session.h"

namespace {

std::string variant_path, program_path, tray_watcher_path;

std::string run_and_read(const std::string &command) {
  std::string out;
  FILE *p = popen(command.c_str(), "r");
  if (!p) return "<popen failed>";
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

bool wait_until(const std::function<bool()> &done, int timeout_ms) {
  double end = monotonic_ms() + timeout_ms;
  while (monotonic_ms() < end) {
    if (done()) return true;
    usleep(50000);
  }
  return done();
}

int count_of(const std::string &text, const std::string &what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) n++;
  return n;
}

// A child process of `parent` whose name (comm, 15 characters) is `name`, or 0.
pid_t child_named(pid_t parent, const std::string &name) {
  std::string list = "/proc/" + std::to_string(parent) + "/task/" + std::to_string(parent) + "/children";
  FILE *f = fopen(list.c_str(), "r");
  if (!f) return 0;
  pid_t found = 0;
  int pid;
  while (!found && fscanf(f, "%d", &pid) == 1) {
    FILE *c = fopen(("/proc/" + std::to_string(pid) + "/comm").c_str(), "r");
    char comm[64] = {0};
    if (c && fgets(comm, sizeof comm, c) && std::string(comm).compare(0, name.size(), name) == 0) found = pid;
    if (c) fclose(c);
  }
  fclose(f);
  return found;
}

struct running_app {
  temp_home home;
  x_session x;
  pid_t pid = -1;
  Window window = 0;
  int out = -1;  // the program's standard output, where the test page's marks go

  explicit running_app(const std::string &path, const std::vector<std::string> &extra = {},
                       const std::function<void(const std::string &home)> &prepare = nullptr) {
    // The display may be between clients for a moment; a test that can't reach it fails
    // where it looks for the window instead of ending the whole run.
    for (int i = 0; i < 50 && !x_open(&x); i++) usleep(100000);
    if (prepare) prepare(home.dir);
    std::vector<std::string> e = env();
    e.insert(e.end(), extra.begin(), extra.end());
    pid = spawn_program({path}, e, &out);
  }
  ~running_app() {
    kill_and_reap(pid);
    close_reader(out);
    x_close(&x);
  }
  std::vector<std::string> env() const {
    std::vector<std::string> e = home.env();
    e.push_back("NO_AT_BRIDGE=1");
    e.push_back("GTK_A11Y=none");
    return e;
  }
  bool find_window(int timeout_ms) {
    if (!x.dpy) return false;
    return wait_until([&] { return (window = x_find_window(&x, pid)) != 0; }, timeout_ms);
  }
  std::string title() { return window ? x_title(&x, window) : ""; }
};

// A tray host on the session bus for as long as it lives.
struct tray_host {
  int out = -1;
  pid_t pid = spawn_program({tray_watcher_path}, {}, &out);
  tray_host() { EXPECT_EQ(read_line_with(out, "ready", 10000), "ready"); }
  ~tray_host() {
    kill(pid, SIGTERM);
    wait_exit(pid, 5000);
    kill_and_reap(pid);
    close_reader(out);
  }
};

TEST(HostWindow, PageBridgeTrayAndBlackOutKey) {
  ASSERT_FALSE(variant_path.empty());
  tray_host tray;
  x_session mine;
  ASSERT_TRUE(x_open(&mine));
  // Another program holds F10: the page must be told it can't have it.
  ASSERT_TRUE(x_grab_key(&mine, XK_F10));

  running_app app(variant_path);
  ASSERT_GT(app.pid, 0);
  ASSERT_TRUE(app.find_window(30000)) << "no window appeared";
  ASSERT_TRUE(wait_until([&] { return app.title().find("ready") != std::string::npos; }, 60000))
      << "page never got ready; title: " << app.title();
  std::string seen = app.title();
  EXPECT_NE(seen.find("|bridge-ok|tray:true|"), std::string::npos) << seen;
  EXPECT_NE(seen.find("taken:false|f8:true|refused:false|f9:true"), std::string::npos) << seen;
  EXPECT_TRUE(x_viewable(&app.x, app.window));

  // The refused name released F8; F9 is held by the program now.
  EXPECT_TRUE(x_grab_key(&mine, XK_F8)) << "F8 stayed grabbed after a refused key";
  x_ungrab_key(&mine, XK_F8);
  EXPECT_FALSE(x_grab_key(&mine, XK_F9)) << "F9 is not grabbed";

  x_press_key(&mine, XK_F8, 30);
  usleep(700000);
  EXPECT_EQ(count_of(app.title(), "panic"), 0) << app.title();
  x_press_key(&mine, XK_F9, 30);
  EXPECT_TRUE(wait_until([&] { return count_of(app.title(), "panic") == 1; }, 10000)) << app.title();
  // Held down, the key fires once.
  x_press_key(&mine, XK_F9, 1500);
  EXPECT_TRUE(wait_until([&] { return count_of(app.title(), "panic") >= 2; }, 10000)) << app.title();
  usleep(500000);
  EXPECT_EQ(count_of(app.title(), "panic"), 2) << app.title();

  // Closing hides the window: the page hears away, then focus false; the process stays.
  x_send_close(&app.x, app.window);
  EXPECT_TRUE(wait_until([&] { return !x_viewable(&app.x, app.window); }, 10000)) << "window still shown";
  EXPECT_TRUE(wait_until([&] { return app.title().find("away") != std::string::npos; }, 10000)) << app.title();
  seen = app.title();
  size_t away = seen.find("|away");
  ASSERT_NE(away, std::string::npos) << seen;
  EXPECT_NE(seen.find("|focus:false", away), std::string::npos) << seen;
  EXPECT_EQ(wait_exit(app.pid, 500), -1) << "the program ended on close";

  // The key works while the window is hidden.
  x_press_key(&mine, XK_F9, 30);
  EXPECT_TRUE(wait_until([&] { return count_of(app.title(), "panic") == 3; }, 10000)) << app.title();

  // A second start ends at once with 0 and brings the first window back.
  pid_t second = spawn_program({variant_path}, app.env());
  EXPECT_EQ(wait_exit(second, 15000), 0);
  kill_and_reap(second);
  EXPECT_TRUE(wait_until([&] { return x_viewable(&app.x, app.window); }, 10000)) << "window not shown again";
  EXPECT_EQ(wait_exit(app.pid, 0), -1);
  EXPECT_TRUE(wait_until([&] { return app.title().rfind("|focus:true") == app.title().size() - 11; }, 10000))
      << app.title();
  // Shown again, it has the user: one focus event, no flapping.
  seen = app.title();
  EXPECT_EQ(seen.substr(seen.rfind("|panic")), "|panic|focus:true") << seen;

  // Ending the session quits like the tray's Quit: exit code 0, the key released.
  kill(app.pid, SIGTERM);
  EXPECT_EQ(wait_exit(app.pid, 15000), 0);
  EXPECT_TRUE(x_grab_key(&mine, XK_F9)) << "F9 still grabbed after quitting";
  x_ungrab_key(&mine, XK_F9);
  x_ungrab_key(&mine, XK_F10);
  x_close(&mine);
}

// With a tray host on the session bus the icon registers there, and its menu's entries
// bring the hidden window back and quit the program.
TEST(HostWindow, TrayMenuOpensAndQuits) {
  ASSERT_FALSE(tray_watcher_path.empty());
  int watcher_out = -1;
  pid_t watcher = spawn_program({tray_watcher_path}, {}, &watcher_out);
  ASSERT_EQ(read_line_with(watcher_out, "ready", 10000), "ready");

  running_app app(variant_path);
  ASSERT_TRUE(app.find_window(30000));
  ASSERT_TRUE(wait_until([&] { return app.title().find("ready") != std::string::npos; }, 60000)) << app.title();
  EXPECT_NE(app.title().find("|tray:true|"), std::string::npos) << app.title();
  EXPECT_NE(read_line_with(watcher_out, "registered ", 10000), "");
  EXPECT_EQ(read_line_with(watcher_out, "menu ", 10000), "menu Open mosswire|Quit mosswire");

  // The tray host restarts (a desktop shell restart): the icon comes back to the new one.
  kill(watcher, SIGTERM);
  EXPECT_EQ(wait_exit(watcher, 5000), 0);
  close_reader(watcher_out);
  watcher = spawn_program({tray_watcher_path}, {}, &watcher_out);
  ASSERT_EQ(read_line_with(watcher_out, "ready", 10000), "ready");
  EXPECT_NE(read_line_with(watcher_out, "registered ", 15000), "") << "the icon did not come back";

  x_send_close(&app.x, app.window);
  EXPECT_TRUE(wait_until([&] { return !x_viewable(&app.x, app.window); }, 10000));
  kill(watcher, SIGUSR1);
  EXPECT_EQ(read_line_with(watcher_out, "clicked", 10000), "clicked Open mosswire");
  EXPECT_TRUE(wait_until([&] { return x_viewable(&app.x, app.window); }, 10000)) << "Open did not show the window";

  kill(watcher, SIGUSR2);
  EXPECT_EQ(read_line_with(watcher_out, "clicked", 10000), "clicked Quit mosswire");
  EXPECT_EQ(wait_exit(app.pid, 15000), 0) << "Quit did not end the program";
  x_session mine;
  ASSERT_TRUE(x_open(&mine));
  EXPECT_TRUE(x_grab_key(&mine, XK_F9)) << "the black-out key outlived Quit";
  x_close(&mine);

  kill(watcher, SIGTERM);
  wait_exit(watcher, 5000);
  kill_and_reap(watcher);
  close_reader(watcher_out);
}

// The page's process dying (a crash, the memory limit) loads the page again instead of
// leaving an empty window.
TEST(HostWindow, ACrashedPageIsLoadedAgain) {
  running_app app(variant_path);
  ASSERT_TRUE(app.find_window(30000));
  ASSERT_TRUE(wait_until([&] { return app.title().find("ready") != std::string::npos; }, 60000)) << app.title();
  std::string before = app.title();
  pid_t page = child_named(app.pid, "WebKitWebProces");
  ASSERT_GT(page, 0) << "no web process found";
  kill(page, SIGKILL);
  ASSERT_TRUE(wait_until([&] { pid_t now = child_named(app.pid, "WebKitWebProces");
                               return now > 0 && now != page; }, 30000)) << "no new web process";
  // The page starts over (its log begins again) and gets ready once more.
  EXPECT_TRUE(wait_until([&] { return app.title() != before && app.title().find("ready") != std::string::npos &&
                                      app.title().find("|bridge-ok|") != std::string::npos; }, 60000))
      << before << " then " << app.title();
  kill(app.pid, SIGTERM);
  EXPECT_EQ(wait_exit(app.pid, 15000), 0);
}

std::string read_file(const std::string &path) {
  std::string text;
  FILE *f = fopen(path.c_str(), "r");
  if (!f) return text;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  fclose(f);
  return text;
}

bool write_file(const std::string &path, const std::string &text, mode_t mode) {
  FILE *f = fopen(path.c_str(), "w");
  if (!f) return false;
  fputs(text.c_str(), f);
  fclose(f);
  return chmod(path.c_str(), mode) == 0;
}

// The desktop's browser in this home: a program that notes each address it is given,
// made the default for http and https the way desktops record it (mimeapps.list).
void install_fake_browser(const std::string &home) {
  mkdir((home + "/data/applications").c_str(), 0700);
  write_file(home + "/fake-browser", "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + home + "/opened.txt'\n", 0755);
  write_file(home + "/data/applications/fake-browser.desktop",
             "[Desktop Entry]\nType=Application\nName=Fake browser\nExec=" + home +
                 "/fake-browser %u\nMimeType=x-scheme-handler/http;x-scheme-handler/https;\n",
             0644);
  write_file(home + "/config/mimeapps.list",
             "[Default Applications]\nx-scheme-handler/http=fake-browser.desktop\n"
             "x-scheme-handler/https=fake-browser.desktop\n",
             0644);
}

// The window never leaves the page's own address: the page tries to navigate away by
// script (http, data:, file:), to open windows and to save files; all of that is refused
// and nothing opens. A link a person clicks opens in the desktop's browser, and the page
// stays where it was.
TEST(HostWindow, ThePageStaysAndOnlyAClickedLinkOpensOutside) {
  running_app app(variant_path, {"MSW_HOST_TEST_MODE=safety"}, install_fake_browser);
  std::string home = app.home.dir;
  ASSERT_TRUE(app.find_window(30000));
  ASSERT_TRUE(wait_until([&] { return app.title().find("attempts-done") != std::string::npos; }, 60000))
      << app.title();
  std::string after_attempts = app.title();
  EXPECT_EQ(count_of(after_attempts, "load:"), 1) << after_attempts;
  usleep(1000000);
  EXPECT_EQ(read_file(home + "/opened.txt"), "") << "a script opened something";
  EXPECT_EQ(app.title(), after_attempts);

  x_click_middle(&app.x, app.window);
  EXPECT_TRUE(wait_until([&] { return !read_file(home + "/opened.txt").empty(); }, 15000)) << "the click opened nothing";
  usleep(500000);
  EXPECT_EQ(read_file(home + "/opened.txt"), "http://example.invalid/clicked-link\n");
  // The page saw the click and is the same page (one load, nothing after the click).
  EXPECT_EQ(app.title(), after_attempts + "|clicked:true") << "the window left the page";
  // Nothing was saved anywhere in the home.
  std::string saved = run_and_read("find '" + home + "' -name 'saved*'");
  EXPECT_EQ(saved, "") << saved;
  kill(app.pid, SIGTERM);
  EXPECT_EQ(wait_exit(app.pid, 15000), 0);
}

// Without a display the program says so on stderr and ends with 1; a second start is
// still told apart first and ends with 0.
TEST(HostStart, WithoutADisplay) {
  ASSERT_FALSE(program_path.empty());
  temp_home home;
  std::vector<std::string> env = home.env();
  env.push_back("DISPLAY=");
  env.push_back("WAYLAND_DISPLAY=");
  int out = -1;
  pid_t pid = spawn_program({"/bin/sh", "-c", "exec \"$0\" 2>&1", program_path}, env, &out);
  EXPECT_EQ(read_line_with(out, "", 10000),
            "mosswire needs a graphical desktop session, and no display was found. Open mosswire from your desktop.");
  EXPECT_EQ(wait_exit(pid, 10000), 1);
  kill_and_reap(pid);
  close_reader(out);

  running_app app(program_path);
  ASSERT_TRUE(app.find_window(30000));
  env = app.env();
  env.push_back("DISPLAY=");
  env.push_back("WAYLAND_DISPLAY=");
  pid_t second = spawn_program({program_path}, env);
  EXPECT_EQ(wait_exit(second, 10000), 0);
  kill_and_reap(second);
  kill(app.pid, SIGTERM);
  EXPECT_EQ(wait_exit(app.pid, 15000), 0);
}

TEST(HostWindow, TheProgramStartsOnceAndEndsCleanly) {
  ASSERT_FALSE(program_path.empty());
  tray_host tray;
  running_app app(program_path);
  ASSERT_GT(app.pid, 0);
  ASSERT_TRUE(app.find_window(30000)) << "no window appeared";
  // The page may add to the title (unread counts), never drop the name.
  EXPECT_NE(app.title().find("mosswire"), std::string::npos) << app.title();
  EXPECT_TRUE(wait_until([&] { return x_viewable(&app.x, app.window); }, 10000));
  // It first appears at its start-up size.
  int width = 0, height = 0, min_width = 0, min_height = 0;
  ASSERT_TRUE(x_sizes(&app.x, app.window, &width, &height, &min_width, &min_height));
  EXPECT_EQ(width, 1100);
  EXPECT_EQ(height, 720);
  EXPECT_EQ(min_width, 760);
  EXPECT_EQ(min_height, 520);

  pid_t second = spawn_program({program_path, "--After-Update", "x"}, app.env());
  EXPECT_EQ(wait_exit(second, 15000), 0);
  kill_and_reap(second);

  // Closed to the tray, then back through a second start.
  x_send_close(&app.x, app.window);
  EXPECT_TRUE(wait_until([&] { return !x_viewable(&app.x, app.window); }, 10000));
  pid_t third = spawn_program({program_path}, app.env());
  EXPECT_EQ(wait_exit(third, 15000), 0);
  kill_and_reap(third);
  EXPECT_TRUE(wait_until([&] { return x_viewable(&app.x, app.window); }, 10000));

  kill(app.pid, SIGTERM);
  EXPECT_EQ(wait_exit(app.pid, 15000), 0);
}

// Every end waits for the page to store what it holds: a close where no tray host would
// bring the window back quits, after the page is done; a page that never answers holds
// the end for a few seconds at most.
TEST(HostWindow, TheEndWaitsForThePageToStore) {
  ASSERT_FALSE(variant_path.empty());
  {
    running_app app(variant_path, {"MSW_HOST_TEST_MODE=quit"});
    ASSERT_TRUE(app.find_window(30000));
    ASSERT_TRUE(wait_until([&] { return app.title().find("ready") != std::string::npos; }, 60000)) << app.title();
    x_send_close(&app.x, app.window);
    EXPECT_NE(read_line_with(app.out, "mark quit", 10000), "") << "the page was not asked to store";
    EXPECT_EQ(wait_exit(app.pid, 300), -1) << "the program ended before the page was done";
    EXPECT_NE(read_line_with(app.out, "mark stored", 10000), "") << "the program ended while the page stored";
    EXPECT_EQ(wait_exit(app.pid, 10000), 0) << "a close without a tray host did not end the program";
  }
  {
    running_app app(variant_path, {"MSW_HOST_TEST_MODE=quit-hung"});
    ASSERT_TRUE(app.find_window(30000));
    ASSERT_TRUE(wait_until([&] { return app.title().find("ready") != std::string::npos; }, 60000)) << app.title();
    kill(app.pid, SIGTERM);
    EXPECT_NE(read_line_with(app.out, "mark quit", 10000), "");
    double asked = monotonic_ms();
    EXPECT_EQ(wait_exit(app.pid, 15000), 0) << "a page that never answers held the end";
    EXPECT_GT(monotonic_ms() - asked, 1000) << "the host did not wait for the page at all";
  }
}

}  // namespace

// A crash of the test itself names where it happened.
void on_crash(int sig) {
  void *frames[64];
  int n = backtrace(frames, 64);
  backtrace_symbols_fd(frames, n, 2);
  signal(sig, SIG_DFL);
  raise(sig);
}

int main(int argc, char **argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  signal(SIGSEGV, on_crash);
  signal(SIGABRT, on_crash);
  ::testing::InitGoogleTest(&argc, argv);
  if (argc > 1) variant_path = argv[1];
  if (argc > 2) program_path = argv[2];
  if (argc > 3) tray_watcher_path = argv[3];
  return RUN_ALL_TESTS();
}
