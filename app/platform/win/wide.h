#pragma once
// Windows speaks UTF-16; everything above the platform layer speaks UTF-8.
#include <stddef.h>

#include <string>

// UTF-8 to UTF-16. Bytes that are not UTF-8 become U+FFFD, so a damaged name can never
// turn into another, valid one.
std::wstring widen(const std::string &text);

// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
std::string narrow(const std::wstring &text);

// The same for units of UTF-16 at text, into a NUL-terminated buffer from malloc() that the
// caller frees with free(), so a large text can be handed on without another copy. Null
// for an empty text or when memory runs out.
char *narrow_owned(const wchar_t *text, size_t units);

// The system's text for an error code (GetLastError), on one line, for the log.
std::string error_text(unsigned long code);
