#pragma once
// The system's cryptographic random source.
#include <stddef.h>

// Fills out with random bytes; false when the source failed (nothing may then be used).
bool random_bytes(unsigned char *out, size_t length);
