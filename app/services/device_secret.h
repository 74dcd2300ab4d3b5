#pragma once
// The device secret: 32 random bytes made once per computer and user, kept sealed in
// device.key, mixed into the vault key by the page so a copied vault can't be attacked
// elsewhere.
#include "app/platform/linux/device_key.h"

// Fills secret and created. False (nothing made, nothing replaced) when device.key exists
// but can't be read, unsealed or holds other than 32 bytes, or a new one can't be stored.
bool load_device_secret(const device_binding &binding, unsigned char secret[32], bool *created);

void msw_device_secret(const char *id, const char *args, void *user);
