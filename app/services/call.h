#pragma once
// Reading a call's arguments and answering it: the one shape all 19 bindings share.
#include <stddef.h>

#include <string>

// Element index of the argument array as json_arg gives it (a string unescaped, anything
// else as its raw text). False when it is missing or unreadable.
bool arg_text(const char *args, int index, std::string *out);

// True only when the element's text is exactly true (JSON true or the string "true").
bool arg_bool(const char *args, int index);

// Answers with a literal result text (null, true, a number, an object...).
void reply_raw(const char *id, const char *result);

// Answers with the bytes as a JSON string, or null when quoting runs out of memory.
void reply_string(const char *id, const char *bytes, size_t length);

inline void reply_null(const char *id) { reply_raw(id, "null"); }
inline void reply_bool(const char *id, bool value) { reply_raw(id, value ? "true" : "false"); }
