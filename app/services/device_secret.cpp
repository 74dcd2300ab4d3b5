#include "app/services/device_secret.h"

#include <stdio.h>
#include <string.h>

#include <string>

#include "app/common/base64.h"
#include "app/platform/crypto.h"
#include "app/platform/files.h"
#include "app/platform/log.h"
#include "app/platform/random.h"
#include "app/platform/secret_store.h"
#include "app/services/app_files.h"
#include "app/services/call.h"

static bool open_device_key(const std::string &sealed, unsigned char secret[32]) {
  std::string plain;
  bool ok = secret_unprotect(sealed, &plain) && plain.size() == 32;
  if (ok) memcpy(secret, plain.data(), 32);
  if (!plain.empty()) memory_wipe(&plain[0], plain.size());
  return ok;
}

/*
 * A device.key that is there but can't be opened is never replaced: a new secret would
 * make the existing vault unreadable for good, while the old file may still open later
 * (the keyring unlocked, a read error gone). Only a missing file makes a new secret.
 */
bool load_device_secret(unsigned char secret[32], bool *created) {
  *created = false;
  std::string sealed;
  if (read_app_file("device.key", &sealed)) {
    if (open_device_key(sealed, secret)) return true;
    log_failure("device secret", "device.key is there but doesn't open here; it is kept as it is");
    return false;
  }
  if (file_exists(app_path("device.key", ""))) {
    log_failure("device secret", "device.key is there but can't be read; it is kept as it is");
    return false;
  }

  std::string blob;
  bool ok = random_bytes(secret, 32) && secret_protect(secret, 32, &blob) &&
            write_app_file("device.key", blob.data(), blob.size());
  if (!ok) {
    memory_wipe(secret, 32);
    log_failure("device secret", "a new device.key couldn't be made or stored");
  }
  *created = ok;
  return ok;
}

static void answer_device_secret(const char *id) {
  unsigned char secret[32];
  bool created = false;
  if (!load_device_secret(secret, &created)) return reply_null(id);
  std::string text = base64_encode(secret, sizeof secret);
  char result[96];
  snprintf(result, sizeof result, "{\"secret\":\"%s\",\"created\":%s}", text.c_str(),
           created ? "true" : "false");
  memory_wipe(secret, sizeof secret);
  memory_wipe(&text[0], text.size());
  reply_raw(id, result);
  memory_wipe(result, sizeof result);
}

static void answer_when_prepared(void *call_id) {
  std::string *id = (std::string *)call_id;
  answer_device_secret(id->c_str());
  delete id;
}

// A locked keyring is asked to unlock first; the answer comes once that is settled, while
// the window keeps running.
void msw_device_secret(const char *id, const char *, void *) {
  secret_store_prepare(answer_when_prepared, new std::string(id));
}
