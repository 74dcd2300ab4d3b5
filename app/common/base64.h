#pragma once
// Standard Base64 (RFC 4648, "+" and "/", padded), the form the page and the owner's tools
// use for keys and signatures.
#include <stddef.h>

#include <string>

std::string base64_encode(const unsigned char *data, size_t length);

// Strict: only the alphabet, padded to a multiple of four, no white space, and unused bits
// of the last group zero, so one set of bytes has exactly one text. False (and *out
// unspecified) for anything else.
bool base64_decode(const std::string &text, std::string *out);
