#pragma once
// Stand-in services on a test's private session bus take the well-known name the program
// looks for, as the real service would.
#include <gio/gio.h>

// True when the name is now this connection's; never queued behind an owner
// (DBUS_NAME_FLAG_DO_NOT_QUEUE), so a taken name answers false at once.
inline bool own_bus_name(GDBusConnection *connection, const char *name) {
  GVariant *answer = g_dbus_connection_call_sync(
      connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
      "RequestName", g_variant_new("(su)", name, 4u), G_VARIANT_TYPE("(u)"),
      G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
  guint32 result = 0;
  if (answer) g_variant_get(answer, "(u)", &result), g_variant_unref(answer);
  return result == 1;  // DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER
}
