#pragma once
// What the services need of the system's cryptographic library: a file's SHA-256 and
// wiping secrets from memory.
#include <stddef.h>

#include <string>

// SHA-256 of a file, read in 64 KiB blocks; false when it can't be opened or read in full.
bool sha256_file(const std::string &path, unsigned char digest[32]);

// Overwrites length bytes with zeros in a way the compiler may not leave out.
void memory_wipe(void *data, size_t length);
