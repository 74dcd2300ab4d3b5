#pragma once
// A notification field as the shell takes it: UTF-16 in a field of `room` units with its
// terminator. Longer text is cut at the last whole character that fits, never between
// the two halves of a surrogate pair.
#include <stddef.h>

#include <string>

std::wstring notification_text(const char *utf8, size_t room);
