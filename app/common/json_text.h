#pragma once
// The three JSON text routines every native function uses to read its arguments and to
// write its result. Results are newly allocated, NUL-terminated texts that the caller
// releases with free(); null means the input did not hold what was asked for (json_arg)
// or memory ran out.
#include <stddef.h>

// Element `index` (zero-based) of the JSON array text `args`. A string element comes back
// unescaped; any other element comes back as its raw text, trailing white space cut.
char *json_arg(const char *args, int index);

// Decodes the body of a JSON string (the bytes between its quotes) into UTF-8.
char *json_unescape(const char *begin, const char *end);

// The quoted JSON string for `length` bytes; UTF-8 passes through unchanged.
char *json_quote(const char *bytes, size_t length);
