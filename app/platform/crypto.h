#pragma once
// What the services need of the system's cryptographic library: a file's SHA-256, checking
// a signature of the network's owner and wiping secrets from memory.
#include <stddef.h>

#include <string>

// SHA-256 of a file, read in 64 KiB blocks; false when it can't be opened or read in full.
bool sha256_file(const std::string &path, unsigned char digest[32]);

// Whether signature (r then s, 32 bytes each, big-endian: the form WebCrypto makes) is a
// valid ECDSA P-256 signature over the SHA-256 of the length bytes at data, made by the key
// whose uncompressed point (0x04, x, y) is public_point. False for a point that is not on
// the curve and for any failure of the library.
bool ecdsa_p256_verify(const unsigned char public_point[65], const void *data, size_t length,
                       const unsigned char signature[64]);

// Overwrites length bytes with zeros in a way the compiler may not leave out.
void memory_wipe(void *data, size_t length);
