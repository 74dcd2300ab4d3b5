#pragma once
// The one JSON codec of the native side: the bridge reads a page call's message with it,
// every native function reads its arguments and writes its result with it, and the bridge
// checks a result with it before the page sees it. Results of the char * routines are
// newly allocated, NUL-terminated texts that the caller releases with free(); null means
// the input did not hold what was asked for or memory ran out.
#include <stddef.h>

#include <string>

// Element `index` (zero-based) of the JSON array text `args`. A string element comes back
// unescaped; any other element comes back as its raw text, trailing white space cut.
char *json_arg(const char *args, int index);

// The value of the first member named `key` of the JSON object text `object`, the same way:
// a string unescaped, anything else as its raw text. Null when there is no such member or
// the object can't be read up to it.
char *json_member(const char *object, const char *key);

// Where the value of the first member named `key` of `object` lies, as its raw text (a
// string with its quotes, trailing white space cut): [*begin, *end). False where
// json_member would answer null. For a large value that is not to be copied.
bool json_member_span(const char *object, const char *key, const char **begin, const char **end);

// What json_arg answers for element `index`, written over `args` itself: decoding never
// makes a text longer, so a large argument needs no second buffer. False, and `args` left
// as it was, when the element is missing or unreadable.
bool json_arg_in_place(std::string *args, int index);

// Decodes the body of a JSON string (the bytes between its quotes) into UTF-8.
char *json_unescape(const char *begin, const char *end);

// The quoted JSON string for `length` bytes; UTF-8 passes through unchanged.
char *json_quote(const char *bytes, size_t length);

// The same for a std::string; "null" when memory runs out.
std::string json_quoted(const std::string &text);

// True when text is exactly one well-formed JSON value (white space around it allowed),
// nested at most 256 deep.
bool json_valid(const std::string &text);
