#pragma once
// A failure as the one line every platform's log writes: "mosswire: AREA: TEXT".
#include <stdarg.h>
#include <stddef.h>

// Formats into out (cut to size), with every control character turned into a space: a
// system's reason may hold a line break, and one failure must stay one line.
void log_line_format(char *out, size_t size, const char *format, va_list args);
