#include "log_line.h"

#include <stdio.h>

void log_line_format(char *out, size_t size, const char *format, va_list args) {
  vsnprintf(out, size, format, args);
  for (char *p = out; *p; p++)
    if ((unsigned char)*p < 0x20) *p = ' ';
}
