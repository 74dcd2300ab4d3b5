#include "app/platform/linux/device_key.h"

#include <stdio.h>
#include <libsecret/secret.h>
#include <string.h>
#include <unistd.h>

#include "app/platform/files.h"
#include "app/platform/log.h"

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

static const SecretSchema wrap_schema = {
    "org.mosswire.DeviceKey",
    SECRET_SCHEMA_NONE,
    {{"purpose", SECRET_SCHEMA_ATTRIBUTE_STRING}, {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
    0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};

static const char wrap_purpose[] = "device-key-wrap";

const SecretSchema *keyring_wrap_schema(void) { return &wrap_schema; }

GHashTable *keyring_wrap_attributes(void) {
  return secret_attributes_build(&wrap_schema, "purpose", wrap_purpose, nullptr);
}

static int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

/*
 * These calls never prompt: a prompt waited for here would block the window on a dialog
 * that, on a headless or unusual session, nobody may answer. The unlock prompt is asked
 * beforehand, without blocking (keyring_unlock.cpp); what is still locked or missing after
 * it counts as no service: a new device key is then bound to the machine instead, and an
 * existing keyring-sealed file answers null until the keyring is unlocked.
 */
static SecretService *open_service(void) {
  GError *error = nullptr;
  SecretService *service = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &error);
  if (error) {
    log_failure("secret service", "no connection: %s", error->message);
    g_error_free(error);
  }
  return service;
}

keyring_answer keyring_load_wrap_key(unsigned char key[32]) {
  SecretService *service = open_service();
  if (!service) return keyring_unavailable;
  GHashTable *attributes = secret_attributes_build(&wrap_schema, "purpose", wrap_purpose, nullptr);
  GError *error = nullptr;
  GList *items = secret_service_search_sync(service, &wrap_schema, attributes,
                                            SECRET_SEARCH_LOAD_SECRETS, nullptr, &error);
  g_hash_table_unref(attributes);
  keyring_answer answer = keyring_unavailable;
  if (error) {
    log_failure("secret service", "search for the device key's wrapping key failed: %s", error->message);
    g_error_free(error);
  } else if (!items) {
    answer = keyring_missing;
  } else if (SecretValue *value = secret_item_get_secret(SECRET_ITEM(items->data))) {
    // No secret loaded means the item sits in a locked keyring.
    gsize length = 0;
    const gchar *text = secret_value_get(value, &length);
    bool ok = length == 64;
    for (int i = 0; ok && i < 32; i++) {
      int hi = hex_value(text[2 * i]), lo = hex_value(text[2 * i + 1]);
      if (hi < 0 || lo < 0) ok = false;
      else key[i] = (unsigned char)(hi << 4 | lo);
    }
    secret_value_unref(value);
    // A damaged entry is not replaced: device.key files sealed under it would be lost.
    answer = ok ? keyring_found : keyring_unavailable;
    if (!ok) log_failure("secret service", "the wrapping key's entry is damaged");
  }
  g_list_free_full(items, g_object_unref);
  g_object_unref(service);
  return answer;
}

bool keyring_store_wrap_key(const unsigned char key[32]) {
  SecretService *service = open_service();
  if (!service) return false;
  GError *error = nullptr;
  SecretCollection *collection = secret_collection_for_alias_sync(
      service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, &error);
  if (error) {
    log_failure("secret service", "no default keyring: %s", error->message);
    g_error_free(error), error = nullptr;
  } else if (!collection || secret_collection_get_locked(collection)) {
    log_failure("secret service", "the default keyring is missing or locked");
  }
  bool ok = false;
  if (collection && !secret_collection_get_locked(collection)) {
    char text[65];
    for (int i = 0; i < 32; i++) snprintf(text + 2 * i, 3, "%02x", key[i]);
    SecretValue *value = secret_value_new(text, 64, "text/plain");
    memset(text, 0, sizeof text);
    GHashTable *attributes =
        secret_attributes_build(&wrap_schema, "purpose", wrap_purpose, nullptr);
    SecretItem *item = secret_item_create_sync(collection, &wrap_schema, attributes,
                                               "mosswire device key", value,
                                               SECRET_ITEM_CREATE_REPLACE, nullptr, &error);
    ok = item != nullptr;
    if (item) g_object_unref(item);
    if (error) {
      log_failure("secret service", "storing the wrapping key failed: %s", error->message);
      g_error_free(error);
    }
    g_hash_table_unref(attributes);
    secret_value_unref(value);
  }
  if (collection) g_object_unref(collection);
  g_object_unref(service);
  return ok;
}

bool keyring_clear_wrap_key(void) {
  GError *error = nullptr;
  gboolean ok = secret_password_clear_sync(&wrap_schema, nullptr, &error, "purpose",
                                           wrap_purpose, nullptr);
  if (error) g_error_free(error);
  return ok;
}
