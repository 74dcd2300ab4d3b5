#include "app/platform/linux/device_key.h"

#include <errno.h>
#include <stdio.h>
#include <libsecret/secret.h>
#include <string.h>
#include <sys/random.h>
#include <unistd.h>

#include "app/platform/linux/app_folder/files.h"

static std::string first_line(const char *path) {
  std::string text;
  if (!file_read_whole(path, &text)) return "";
  size_t end = text.find_first_of("\r\n");
  if (end != std::string::npos) text.resize(end);
  return text;
}

device_binding device_binding_current(void) {
  device_binding b;
  b.machine_id = first_line("/etc/machine-id");
  if (b.machine_id.empty()) b.machine_id = first_line("/var/lib/dbus/machine-id");
  b.uid = (unsigned)getuid();
  return b;
}

bool random_bytes(unsigned char *out, size_t length) {
  size_t done = 0;
  while (done < length) {
    ssize_t n = getrandom(out + done, length - done, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += (size_t)n;
  }
  return true;
}

static const SecretSchema wrap_schema = {
    "org.mosswire.DeviceKey",
    SECRET_SCHEMA_NONE,
    {{"purpose", SECRET_SCHEMA_ATTRIBUTE_STRING}, {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
    0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};

static const char wrap_purpose[] = "device-key-wrap";

static int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

keyring_answer keyring_load_wrap_key(unsigned char key[32]) {
  GError *error = nullptr;
  gchar *text = secret_password_lookup_sync(&wrap_schema, nullptr, &error, "purpose",
                                            wrap_purpose, nullptr);
  if (error) {
    g_error_free(error);
    return keyring_unavailable;
  }
  if (!text) return keyring_missing;
  bool ok = strlen(text) == 64;
  for (int i = 0; ok && i < 32; i++) {
    int hi = hex_value(text[2 * i]), lo = hex_value(text[2 * i + 1]);
    if (hi < 0 || lo < 0) ok = false;
    else key[i] = (unsigned char)(hi << 4 | lo);
  }
  secret_password_free(text);
  // A damaged entry is not replaced: device.key files sealed under it would be lost.
  return ok ? keyring_found : keyring_unavailable;
}

bool keyring_store_wrap_key(const unsigned char key[32]) {
  char text[65];
  for (int i = 0; i < 32; i++) snprintf(text + 2 * i, 3, "%02x", key[i]);
  GError *error = nullptr;
  gboolean ok = secret_password_store_sync(&wrap_schema, SECRET_COLLECTION_DEFAULT,
                                           "mosswire device key", text, nullptr, &error,
                                           "purpose", wrap_purpose, nullptr);
  memset(text, 0, sizeof text);
  if (error) g_error_free(error);
  return ok;
}

bool keyring_clear_wrap_key(void) {
  GError *error = nullptr;
  gboolean ok = secret_password_clear_sync(&wrap_schema, nullptr, &error, "purpose",
                                           wrap_purpose, nullptr);
  if (error) g_error_free(error);
  return ok;
}
