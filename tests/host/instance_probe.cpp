// A stand-in for the program's first start-up step, for the single-instance tests: it
// runs the check, prints "first" or "other", and as the running copy prints "show <id>"
// for every show request until it has run for the given number of milliseconds.
//
//   instance_probe HOLD_MS [arguments...]
#include <glib.h>
#include <stdio.h>
#include <stdlib.h>

#include "app/host/command_line.h"
#include "app/platform/instance.h"

static void on_show(const char *startup_id) {
  printf("show %s\n", startup_id);
  fflush(stdout);
}

int main(int argc, char **argv) {
  if (argc < 2) return 2;
  if (instance_check(has_after_update(argc, argv))) {
    printf("other\n");
    return 0;
  }
  printf("first\n");
  fflush(stdout);
  instance_watch_show(on_show);
  GMainLoop *loop = g_main_loop_new(nullptr, FALSE);
  g_timeout_add((guint)atoi(argv[1]), [](gpointer l) -> gboolean {
    g_main_loop_quit((GMainLoop *)l);
    return G_SOURCE_REMOVE;
  }, loop);
  g_main_loop_run(loop);
  g_main_loop_unref(loop);
  return 0;
}
