#include "app/platform/secret_store.h"

#include <openssl/crypto.h>

#include "app/platform/linux/device_seal.h"
#include "app/platform/linux/secret_store.h"
#include "app/platform/random.h"

// The Secret Service's wrapping key, made and stored on first use; else the machine key.
static int pick_wrap_key(const device_binding &binding, unsigned char key[32]) {
  switch (keyring_load_wrap_key(key)) {
    case keyring_found: return seal_keyring;
    case keyring_missing:
      if (random_bytes(key, 32) && keyring_store_wrap_key(key)) return seal_keyring;
      break;
    case keyring_unavailable: break;
  }
  return machine_key(binding, key) ? seal_machine : 0;
}

bool secret_protect_for(const device_binding &binding, const unsigned char *data, size_t length,
                        std::string *sealed) {
  unsigned char key[32];
  int method = pick_wrap_key(binding, key);
  std::string blob = method ? seal_secret(method, key, binding, data, length) : "";
  OPENSSL_cleanse(key, sizeof key);
  if (blob.empty()) return false;
  sealed->swap(blob);
  return true;
}

bool secret_unprotect_for(const device_binding &binding, const std::string &sealed, std::string *data) {
  unsigned char key[32];
  bool have_key = false;
  switch (sealed_method(sealed)) {
    case seal_keyring: have_key = keyring_load_wrap_key(key) == keyring_found; break;
    case seal_machine: have_key = machine_key(binding, key); break;
  }
  bool ok = have_key && open_sealed(sealed, key, binding, data);
  OPENSSL_cleanse(key, sizeof key);
  return ok;
}

bool secret_protect(const unsigned char *data, size_t length, std::string *sealed) {
  return secret_protect_for(device_binding_current(), data, length, sealed);
}

bool secret_unprotect(const std::string &sealed, std::string *data) {
  return secret_unprotect_for(device_binding_current(), sealed, data);
}
