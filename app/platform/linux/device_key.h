#pragma once
// What ties device.key to this computer and this user on Linux: the machine's id and the
// user id, and a per-user wrapping key kept in the Secret Service (libsecret).
#include <libsecret/secret.h>

#include <string>

struct device_binding {
  std::string machine_id;  // /etc/machine-id (or D-Bus's copy); empty when neither exists
  unsigned uid;
};

device_binding device_binding_current(void);

enum keyring_answer {
  keyring_found,       // the wrapping key was there
  keyring_missing,     // the service answered but holds no wrapping key
  keyring_unavailable  // no service answered, or it refused (locked, no collection...)
};

keyring_answer keyring_load_wrap_key(unsigned char key[32]);

// Stores the wrapping key in the default collection; false when no service took it.
bool keyring_store_wrap_key(const unsigned char key[32]);

// Removes the wrapping key (tests and tools only; the program never forgets it).
bool keyring_clear_wrap_key(void);

// The wrapping key's entry: its schema, and the attributes that find it (unref them).
const SecretSchema *keyring_wrap_schema(void);
GHashTable *keyring_wrap_attributes(void);
