#include "app/platform/files.h"

#include <gio/gio.h>

#include "app/platform/log.h"

static bool show_items(const std::string &path) {
  GError *error = nullptr;
  GDBusConnection *bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
  if (!bus) {
    log_failure("file manager", "no session bus: %s", error ? error->message : "unknown");
    if (error) g_error_free(error);
    return false;
  }
  gchar *uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
  bool ok = false;
  if (uri) {
    const gchar *uris[] = {uri, nullptr};
    GVariant *reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
        "org.freedesktop.FileManager1", "ShowItems", g_variant_new("(^ass)", uris, ""),
        nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error);
    ok = reply != nullptr;
    if (reply) g_variant_unref(reply);
    if (error) {
      log_failure("file manager", "ShowItems failed: %s", error->message);
      g_error_free(error);
    }
    g_free(uri);
  }
  g_object_unref(bus);
  return ok;
}

static bool open_folder(const std::string &path) {
  size_t slash = path.find_last_of('/');
  std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  gchar *argv[] = {(gchar *)"xdg-open", (gchar *)folder.c_str(), nullptr};
  // Without DO_NOT_REAP_CHILD GLib double-forks, so no zombie is left behind.
  GError *error = nullptr;
  bool ok = g_spawn_async(nullptr, argv, nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, nullptr,
                          &error);
  if (error) {
    log_failure("file manager", "xdg-open failed: %s", error->message);
    g_error_free(error);
  }
  return ok;
}

bool show_in_file_manager(const std::string &path) {
  return show_items(path) || open_folder(path);
}
