#pragma once
// The device secret: 32 random bytes made once per computer and user, kept in device.key
// protected by the platform's secret store, mixed into the vault key by the page so a
// copied vault can't be attacked elsewhere.

// Fills secret and created. False (nothing made, nothing replaced) when device.key exists
// but can't be read, unprotected or holds other than 32 bytes, or a new one can't be stored.
bool load_device_secret(unsigned char secret[32], bool *created);

void msw_device_secret(const char *id, const char *args, void *user);
