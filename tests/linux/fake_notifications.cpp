#include "tests/linux/fake_notifications.h"

#include <gio/gio.h>

#include <condition_variable>
#include <mutex>
#include <thread>

static const char interface_xml[] =
    "<node><interface name='org.freedesktop.Notifications'>"
    " <method name='GetCapabilities'><arg type='as' direction='out'/></method>"
    " <method name='Notify'>"
    "  <arg type='s' direction='in'/><arg type='u' direction='in'/><arg type='s' direction='in'/>"
    "  <arg type='s' direction='in'/><arg type='s' direction='in'/><arg type='as' direction='in'/>"
    "  <arg type='a{sv}' direction='in'/><arg type='i' direction='in'/>"
    "  <arg type='u' direction='out'/></method>"
    " <method name='CloseNotification'><arg type='u' direction='in'/></method>"
    " <method name='GetServerInformation'><arg type='s' direction='out'/>"
    "  <arg type='s' direction='out'/><arg type='s' direction='out'/>"
    "  <arg type='s' direction='out'/></method>"
    " <signal name='NotificationClosed'><arg type='u'/><arg type='u'/></signal>"
    " <signal name='ActionInvoked'><arg type='u'/><arg type='s'/></signal>"
    "</interface></node>";

static std::mutex lock;
static std::condition_variable ready_signal;
static bool ready = false, owned = false;
static std::vector<shown_notification> shown;
static GMainContext *context = nullptr;
static GMainLoop *loop = nullptr;
static GDBusConnection *connection = nullptr;
static std::thread server;

static void method_call(GDBusConnection *, const gchar *, const gchar *, const gchar *,
                        const gchar *method, GVariant *params, GDBusMethodInvocation *call,
                        gpointer) {
  std::string name = method;
  if (name == "GetCapabilities") {
    const gchar *caps[] = {"actions", "body", nullptr};
    g_dbus_method_invocation_return_value(call, g_variant_new("(^as)", caps));
  } else if (name == "GetServerInformation") {
    g_dbus_method_invocation_return_value(call, g_variant_new("(ssss)", "fake", "msw", "1", "1.2"));
  } else if (name == "Notify") {
    const gchar *app, *icon, *summary, *body;
    guint32 replaces;
    GVariantIter *actions, *hints;
    gint32 timeout;
    g_variant_get(params, "(&su&s&s&sasa{sv}i)", &app, &replaces, &icon, &summary, &body,
                  &actions, &hints, &timeout);
    shown_notification n;
    n.app = app;
    n.summary = summary;
    n.body = body;
    const gchar *action;
    while (g_variant_iter_next(actions, "&s", &action)) n.actions.push_back(action);
    g_variant_iter_free(actions);
    const gchar *hint;
    GVariant *value;
    while (g_variant_iter_next(hints, "{&sv}", &hint, &value)) {
      n.hints.push_back(hint);
      g_variant_unref(value);
    }
    g_variant_iter_free(hints);
    {
      std::lock_guard<std::mutex> hold(lock);
      n.id = (unsigned)shown.size() + 1;
      shown.push_back(n);
    }
    g_dbus_method_invocation_return_value(call, g_variant_new("(u)", n.id));
  } else {
    g_dbus_method_invocation_return_value(call, nullptr);
  }
}

static void name_acquired(GDBusConnection *, const gchar *, gpointer) {
  std::lock_guard<std::mutex> hold(lock);
  ready = owned = true;
  ready_signal.notify_all();
}

static void name_lost(GDBusConnection *, const gchar *, gpointer) {
  std::lock_guard<std::mutex> hold(lock);
  ready = true;
  ready_signal.notify_all();
}

static void serve(void) {
  g_main_context_push_thread_default(context);
  GError *error = nullptr;
  gchar *address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &error);
  if (address)
    connection = g_dbus_connection_new_for_address_sync(
        address,
        (GDBusConnectionFlags)(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                               G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
  g_free(address);
  if (!connection) {
    if (error) g_error_free(error);
    name_lost(nullptr, nullptr, nullptr);
    g_main_context_pop_thread_default(context);
    return;
  }
  GDBusNodeInfo *info = g_dbus_node_info_new_for_xml(interface_xml, nullptr);
  static const GDBusInterfaceVTable vtable = {method_call, nullptr, nullptr, {nullptr}};
  g_dbus_connection_register_object(connection, "/org/freedesktop/Notifications",
                                    info->interfaces[0], &vtable, nullptr, nullptr, nullptr);
  g_bus_own_name_on_connection(connection, "org.freedesktop.Notifications",
                               G_BUS_NAME_OWNER_FLAGS_NONE, name_acquired, name_lost, nullptr,
                               nullptr);
  g_main_loop_run(loop);
  g_dbus_node_info_unref(info);
  g_main_context_pop_thread_default(context);
}

bool fake_notifications_start(void) {
  context = g_main_context_new();
  loop = g_main_loop_new(context, FALSE);
  server = std::thread(serve);
  std::unique_lock<std::mutex> hold(lock);
  ready_signal.wait_for(hold, std::chrono::seconds(10), [] { return ready; });
  return owned;
}

void fake_notifications_stop(void) {
  if (!loop) return;
  g_main_loop_quit(loop);
  server.join();
  if (connection) g_object_unref(connection);
  g_main_loop_unref(loop);
  g_main_context_unref(context);
  loop = nullptr;
}

std::vector<shown_notification> fake_notifications_shown(void) {
  std::lock_guard<std::mutex> hold(lock);
  return shown;
}

void fake_notifications_click(unsigned id, const char *key) {
  g_dbus_connection_emit_signal(connection, nullptr, "/org/freedesktop/Notifications",
                                "org.freedesktop.Notifications", "ActionInvoked",
                                g_variant_new("(us)", id, key), nullptr);
  g_dbus_connection_flush_sync(connection, nullptr, nullptr);
}
