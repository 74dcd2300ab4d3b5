#pragma once
// What decides whether a downloaded release is the one its checksum list names.
#include <stddef.h>

// "v" and three dot-separated groups of 1 to 4 ASCII digits, nothing else.
bool release_tag_ok(const char *tag);

/*
 * The SHA-256 listed for name in a checksum list as sha256sum writes it: the first line
 * whose 65th character is a space, followed by spaces or asterisks (at least two
 * separators in all) and then exactly name up to the line's end. That line's first 64
 * characters must be hexadecimal digits (either case), else the search fails at once.
 */
bool find_checksum(const char *text, size_t length, const char *name, unsigned char digest[32]);

