#include "app/platform/log.h"

#include "app/common/log_line.h"

#include <glib.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <syslog.h>
#include <unistd.h>

#include <mutex>

/*
 * Started from a terminal, stderr is read by the person who started it. Started from a
 * desktop session, stderr often goes nowhere (or, under systemd, already to the journal);
 * then the line also goes to syslog, which the journal collects. Never both ways into
 * the journal.
 */
static bool also_to_syslog(void) {
  static bool answer = false;
  static std::once_flag once;
  std::call_once(once, [] {
    bool desktop = getenv("WAYLAND_DISPLAY") || getenv("DISPLAY") || getenv("XDG_SESSION_TYPE");
    answer = desktop && !isatty(STDERR_FILENO) && !g_log_writer_is_journald(STDERR_FILENO);
    if (answer) openlog("mosswire", LOG_PID, LOG_USER);
  });
  return answer;
}

void log_failure(const char *area, const char *format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  log_line_format(text, sizeof text, format, args);
  va_end(args);
  fprintf(stderr, "mosswire: %s: %s\n", area, text);
  if (also_to_syslog()) syslog(LOG_WARNING, "%s: %s", area, text);
}
