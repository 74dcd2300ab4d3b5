#include "app/platform/log.h"

#include "app/common/log_line.h"

#include <windows.h>
#include <stdarg.h>
#include <stdio.h>

#include "app/platform/win/wide.h"

/*
 * Started from a console, stderr is read by the person who started it. A program of the
 * GUI subsystem has no console, so the line also goes to the debugger output, where a
 * debugger or a viewer like DebugView shows it.
 */
void log_failure(const char *area, const char *format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  log_line_format(text, sizeof text, format, args);
  va_end(args);
  fprintf(stderr, "mosswire: %s: %s\n", area, text);
  fflush(stderr);
  std::string line = std::string("mosswire: ") + area + ": " + text + "\n";
  OutputDebugStringW(widen(line).c_str());
}
