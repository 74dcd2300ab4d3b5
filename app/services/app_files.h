#pragma once
// Files in the app data folder, by plain name (vault.json, device.key, ...).
#include <stddef.h>

#include <string>

// Full path of name followed by suffix ("", ".tmp" or ".part") in the app data folder.
std::string app_path(const char *name, const char *suffix);

// The whole file; false when it is missing, unreadable, 2 GiB or larger, or short.
bool read_app_file(const char *name, std::string *out);

// Replaces the file atomically through name.tmp (mode 0600); the old file survives every
// failure.
bool write_app_file(const char *name, const char *bytes, size_t length);

// Deletes the file; the outcome is not reported.
void delete_app_file(const char *name);
