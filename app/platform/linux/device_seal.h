#pragma once
// The sealed form of the device secret kept in device.key:
//   "MSWK", version 1, method, 12-byte nonce, AES-256-GCM ciphertext, 16-byte tag.
// The first six bytes and the machine/user binding are authenticated with the data, so a
// file copied to another computer or account fails to open even under the same key.
#include <stddef.h>

#include <string>

#include "app/platform/linux/device_key.h"

enum seal_method {
  seal_keyring = 1,  // wrapping key from the Secret Service
  seal_machine = 2   // key derived from the machine id and the user id
};

std::string seal_secret(int method, const unsigned char key[32], const device_binding &binding,
                        const unsigned char *data, size_t length);

// The method of a sealed file, or 0 when it is not one.
int sealed_method(const std::string &sealed);

// Opens a sealed file; false when it is damaged, not ours or sealed under another key.
bool open_sealed(const std::string &sealed, const unsigned char key[32],
                 const device_binding &binding, std::string *data);

// The machine-bound key; false when the machine has no id to bind to.
bool machine_key(const device_binding &binding, unsigned char key[32]);
