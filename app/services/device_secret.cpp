#include "app/services/device_secret.h"

#include <openssl/crypto.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "app/platform/linux/app_folder/files.h"
#include "app/services/app_files.h"
#include "app/services/call.h"
#include "app/services/device_seal.h"

static bool open_device_key(const std::string &sealed, const device_binding &binding,
                            unsigned char secret[32]) {
  unsigned char key[32];
  bool have_key = false;
  switch (sealed_method(sealed)) {
    case seal_keyring: have_key = keyring_load_wrap_key(key) == keyring_found; break;
    case seal_machine: have_key = machine_key(binding, key); break;
  }
  std::string plain;
  bool ok = have_key && open_sealed(sealed, key, binding, &plain) && plain.size() == 32;
  if (ok) memcpy(secret, plain.data(), 32);
  OPENSSL_cleanse(key, sizeof key);
  if (!plain.empty()) OPENSSL_cleanse(&plain[0], plain.size());
  return ok;
}

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

/*
 * A device.key that is there but can't be opened is never replaced: a new secret would
 * make the existing vault unreadable for good, while the old file may still open later
 * (the keyring unlocked, a read error gone). Only a missing file makes a new secret.
 */
bool load_device_secret(const device_binding &binding, unsigned char secret[32], bool *created) {
  *created = false;
  std::string sealed;
  if (read_app_file("device.key", &sealed)) return open_device_key(sealed, binding, secret);
  if (file_exists(app_path("device.key", ""))) return false;

  unsigned char key[32];
  int method = pick_wrap_key(binding, key);
  bool ok = method && random_bytes(secret, 32);
  if (ok) {
    std::string blob = seal_secret(method, key, binding, secret, 32);
    ok = !blob.empty() && write_app_file("device.key", blob.data(), blob.size());
  }
  OPENSSL_cleanse(key, sizeof key);
  if (!ok) OPENSSL_cleanse(secret, 32);
  *created = ok;
  return ok;
}

void msw_device_secret(const char *id, const char *, void *) {
  unsigned char secret[32];
  bool created = false;
  if (!load_device_secret(device_binding_current(), secret, &created)) return reply_null(id);
  std::string text = base64_encode(secret, sizeof secret);
  char result[96];
  snprintf(result, sizeof result, "{\"secret\":\"%s\",\"created\":%s}", text.c_str(),
           created ? "true" : "false");
  OPENSSL_cleanse(secret, sizeof secret);
  OPENSSL_cleanse(&text[0], text.size());
  reply_raw(id, result);
  OPENSSL_cleanse(result, sizeof result);
}
