// The native functions of the window-test variant of the program: enough to check the
// bridge from the page (results, rejections, replies from another thread, bytes that are
// not UTF-8), to let the page report through the window title and to set the black-out
// key the way msw_set_panic does.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <string>
#include <thread>

#include "app/host/desktop_host.h"
#include "app/host/host.h"
#include "app/host/startup.h"
#include "json_text.h"

namespace {

std::string arg_text(const char *args, int index) {
  char *value = json_arg(args, index);
  std::string text = value ? value : "";
  free(value);
  return text;
}

void title(const char *id, const char *args, void *) {
  host_set_title(arg_text(args, 0).c_str());
  host_reply(id, "null");
}

void echo(const char *id, const char *args, void *) { host_reply(id, args); }

void result(const char *id, const char *args, void *) { host_reply(id, arg_text(args, 0).c_str()); }

void reject(const char *id, const char *, void *) { host_view.load()->reply(id, 1, "null"); }

void worker(const char *id, const char *args, void *) {
  std::string call = id, text = arg_text(args, 0);
  std::thread([call, text] {
    char *quoted = json_quote(text.data(), text.size());
    host_reply(call.c_str(), quoted);
    free(quoted);
  }).detach();
}

void bad_utf8(const char *id, const char *, void *) { host_reply(id, "\"a\xff" "b\""); }

void set_panic(const char *id, const char *args, void *) {
  host_set_blackout_key(arg_text(args, 0).c_str(), host_raise_panic,
                        [](bool ok, void *call) {
                          host_reply(static_cast<const char *>(call), ok ? "true" : "false");
                          free(call);
                        },
                        strdup(id));
}

void tray(const char *id, const char *, void *) { host_reply(id, host_add_tray_icon() ? "true" : "false"); }

// Prints the moment a page step happened, for the start-up benchmark.
void mark(const char *id, const char *args, void *) {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  printf("mark %s %lld\n", arg_text(args, 0).c_str(), (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec);
  fflush(stdout);
  host_reply(id, "null");
}

// Which checks the page runs: MSW_HOST_TEST_MODE, or "" for the usual ones.
void test_mode(const char *id, const char *, void *) {
  const char *mode = getenv("MSW_HOST_TEST_MODE");
  char *quoted = json_quote(mode ? mode : "", mode ? strlen(mode) : 0);
  host_reply(id, quoted);
  free(quoted);
}

const native_binding calls[] = {
    {"msw_test_mode", test_mode},
    {"msw_mark", mark},     {"msw_title", title},       {"msw_echo", echo},
    {"msw_result", result}, {"msw_reject", reject},     {"msw_worker", worker},
    {"msw_bad_utf8", bad_utf8}, {"msw_set_panic", set_panic},
    {"msw_tray", tray},
};

}  // namespace

// The same host as the program's, with these functions instead of the native services
// (and so without an update to clean up after).
int main(int argc, char **argv) {
  return msw_start(argc, argv, host_wiring{calls, sizeof calls / sizeof calls[0], nullptr, nullptr});
}
