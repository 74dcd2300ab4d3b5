// Asking the Secret Service to unlock the keyring that holds (or will hold) the device
// key's wrapping key. The unlock's prompt can stay up for as long as the person takes, so
// it runs through libsecret's asynchronous call, answered from the GLib main loop that
// also drives the window; the quick look-ups before it never prompt.
#include <libsecret/secret.h>

#include <utility>
#include <vector>

#include "app/platform/linux/device_key.h"
#include "app/platform/log.h"
#include "app/platform/secret_store.h"

typedef std::pair<void (*)(void *), void *> waiter;

// Everyone who asked while one unlock is pending, so the person sees one prompt, not one
// per call.
static std::vector<waiter> waiting;

static void finish_all(void) {
  std::vector<waiter> done;
  done.swap(waiting);
  for (const waiter &w : done) w.first(w.second);
}

static void on_unlocked(GObject *source, GAsyncResult *result, gpointer) {
  GList *unlocked = nullptr;
  GError *error = nullptr;
  secret_service_unlock_finish(SECRET_SERVICE(source), result, &unlocked, &error);
  if (error) {
    log_failure("secret service", "the keyring wasn't unlocked: %s", error->message);
    g_error_free(error);
  } else if (!unlocked) {
    log_failure("secret service", "the keyring stayed locked (the prompt was refused or dismissed)");
  }
  g_list_free_full(unlocked, g_object_unref);
  g_object_unref(source);
  finish_all();
}

// The locked objects that stand between us and the wrapping key: its items when it
// exists, else the default keyring a new one would go into. Nothing when all is open or
// there is no keyring at all (making a first one is not ours to ask).
static GList *locked_objects(SecretService *service) {
  GList *objects = nullptr;
  GHashTable *attributes = keyring_wrap_attributes();
  GError *error = nullptr;
  GList *items = secret_service_search_sync(service, keyring_wrap_schema(), attributes,
                                            SECRET_SEARCH_ALL, nullptr, &error);
  g_hash_table_unref(attributes);
  if (error) {
    log_failure("secret service", "search for the wrapping key failed: %s", error->message);
    g_error_free(error);
    return nullptr;
  }
  for (GList *at = items; at; at = at->next)
    if (secret_item_get_locked(SECRET_ITEM(at->data)))
      objects = g_list_prepend(objects, g_object_ref(at->data));
  bool have_items = items != nullptr;
  g_list_free_full(items, g_object_unref);
  if (have_items) return objects;

  SecretCollection *collection = secret_collection_for_alias_sync(
      service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, &error);
  if (error) g_error_free(error);
  if (collection && secret_collection_get_locked(collection))
    return g_list_prepend(nullptr, collection);
  if (collection) g_object_unref(collection);
  return nullptr;
}

void secret_store_prepare(void (*done)(void *user), void *user) {
  bool pending = !waiting.empty();
  waiting.push_back(waiter(done, user));
  if (pending) return;

  GError *error = nullptr;
  SecretService *service = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &error);
  if (error) g_error_free(error);  // no service: the machine-bound key answers, at once
  GList *objects = service ? locked_objects(service) : nullptr;
  if (!objects) {
    if (service) g_object_unref(service);
    return finish_all();
  }
  // The service reference is handed to the completion, which drops it.
  secret_service_unlock(service, objects, nullptr, on_unlocked, nullptr);
  g_list_free_full(objects, g_object_unref);
}
