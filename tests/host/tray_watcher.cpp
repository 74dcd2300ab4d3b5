// A stand-in tray host for the window tests: it owns org.kde.StatusNotifierWatcher on
// the session bus, notes the items that register, and clicks their menu entries through
// the dbusmenu interface the way a desktop's tray does.
//
// Prints "ready" once it owns the name, "registered <bus name> <path>" per item and
// "menu <label>|<label>..." with the item's menu. SIGUSR1 clicks "Open mosswire",
// SIGUSR2 clicks "Quit mosswire" ("clicked <label>" after each).
#include <gio/gio.h>
#include <glib-unix.h>
#include <signal.h>
#include <stdio.h>

#include <string>
#include <vector>

namespace {

const char introspection[] =
    "<node><interface name='org.kde.StatusNotifierWatcher'>"
    "<method name='RegisterStatusNotifierItem'><arg type='s' direction='in'/></method>"
    "<method name='RegisterStatusNotifierHost'><arg type='s' direction='in'/></method>"
    "<property name='RegisteredStatusNotifierItems' type='as' access='read'/>"
    "<property name='IsStatusNotifierHostRegistered' type='b' access='read'/>"
    "<property name='ProtocolVersion' type='i' access='read'/>"
    "<signal name='StatusNotifierItemRegistered'><arg type='s'/></signal>"
    "</interface></node>";

GDBusConnection *bus = nullptr;
std::string item_owner, item_path;

void say(const std::string &line) {
  printf("%s\n", line.c_str());
  fflush(stdout);
}

GVariant *call(const char *path, const char *iface, const char *method, GVariant *args, const char *type) {
  if (item_owner.empty()) {
    g_variant_unref(g_variant_ref_sink(args));
    say(std::string("error ") + method + ": no item registered");
    return nullptr;
  }
  GError *error = nullptr;
  GVariant *r = g_dbus_connection_call_sync(bus, item_owner.c_str(), path, iface, method, args,
                                            type ? G_VARIANT_TYPE(type) : nullptr, G_DBUS_CALL_FLAGS_NONE, 5000,
                                            nullptr, &error);
  if (!r) {
    say(std::string("error ") + method + ": " + (error ? error->message : "?"));
    g_clear_error(&error);
  }
  return r;
}

std::string menu_path() {
  GVariant *r = call(item_path.c_str(), "org.freedesktop.DBus.Properties", "Get",
                     g_variant_new("(ss)", "org.kde.StatusNotifierItem", "Menu"), "(v)");
  if (!r) return "";
  GVariant *v;
  g_variant_get(r, "(v)", &v);
  std::string path = g_variant_get_string(v, nullptr);
  g_variant_unref(v);
  g_variant_unref(r);
  return path;
}

// The top-level menu entries: (id, label) pairs.
std::vector<std::pair<int, std::string>> menu_entries(const std::string &path) {
  std::vector<std::pair<int, std::string>> out;
  GVariant *r = call(path.c_str(), "com.canonical.dbusmenu", "GetLayout",
                     g_variant_new("(ii@as)", 0, -1, g_variant_new_strv(nullptr, 0)), "(u(ia{sv}av))");
  if (!r) return out;
  GVariant *layout = g_variant_get_child_value(r, 1);
  GVariant *children = g_variant_get_child_value(layout, 2);
  for (gsize i = 0; i < g_variant_n_children(children); i++) {
    GVariant *boxed = g_variant_get_child_value(children, i);
    GVariant *child = g_variant_get_variant(boxed);
    gint32 id;
    GVariant *props;
    g_variant_get_child(child, 0, "i", &id);
    props = g_variant_get_child_value(child, 1);
    const char *label = nullptr;
    if (g_variant_lookup(props, "label", "&s", &label)) out.push_back({id, label});
    g_variant_unref(props);
    g_variant_unref(child);
    g_variant_unref(boxed);
  }
  g_variant_unref(children);
  g_variant_unref(layout);
  g_variant_unref(r);
  return out;
}

void click(const std::string &label) {
  std::string path = menu_path();
  for (const auto &entry : menu_entries(path)) {
    if (entry.second != label) continue;
    GVariant *r = call(path.c_str(), "com.canonical.dbusmenu", "Event",
                       g_variant_new("(isvu)", entry.first, "clicked", g_variant_new_string(""), 0u), nullptr);
    if (r) g_variant_unref(r);
    say("clicked " + label);
    return;
  }
  say("no entry " + label);
}

gboolean report_menu(gpointer) {
  std::string line = "menu ";
  bool first = true;
  for (const auto &entry : menu_entries(menu_path())) {
    if (!first) line += "|";
    first = false;
    line += entry.second;
  }
  say(line);
  return G_SOURCE_REMOVE;
}

void on_call(GDBusConnection *, const gchar *sender, const gchar *, const gchar *, const gchar *method,
             GVariant *params, GDBusMethodInvocation *invocation, gpointer) {
  if (g_strcmp0(method, "RegisterStatusNotifierItem") == 0) {
    const char *service;
    g_variant_get(params, "(&s)", &service);
    item_owner = sender;
    item_path = service[0] == '/' ? service : "/StatusNotifierItem";
    say("registered " + item_owner + " " + item_path);
    g_timeout_add(300, report_menu, nullptr);
  }
  g_dbus_method_invocation_return_value(invocation, nullptr);
}

GVariant *on_get(GDBusConnection *, const gchar *, const gchar *, const gchar *, const gchar *name, GError **,
                 gpointer) {
  if (g_strcmp0(name, "IsStatusNotifierHostRegistered") == 0) return g_variant_new_boolean(TRUE);
  if (g_strcmp0(name, "ProtocolVersion") == 0) return g_variant_new_int32(0);
  const char *items[] = {item_owner.c_str(), nullptr};
  return g_variant_new_strv(items, item_owner.empty() ? 0 : 1);
}

const GDBusInterfaceVTable vtable = {on_call, on_get, nullptr, {nullptr}};

}  // namespace

int main() {
  GError *error = nullptr;
  bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
  if (!bus) {
    fprintf(stderr, "no session bus: %s\n", error->message);
    return 1;
  }
  GDBusNodeInfo *node = g_dbus_node_info_new_for_xml(introspection, nullptr);
  g_dbus_connection_register_object(bus, "/StatusNotifierWatcher", node->interfaces[0], &vtable, nullptr, nullptr,
                                    nullptr);
  g_bus_own_name_on_connection(
      bus, "org.kde.StatusNotifierWatcher", G_BUS_NAME_OWNER_FLAGS_NONE,
      [](GDBusConnection *, const gchar *, gpointer) { say("ready"); }, nullptr, nullptr, nullptr);
  g_unix_signal_add(SIGUSR1, [](gpointer) -> gboolean { click("Open mosswire"); return G_SOURCE_CONTINUE; }, nullptr);
  g_unix_signal_add(SIGUSR2, [](gpointer) -> gboolean { click("Quit mosswire"); return G_SOURCE_CONTINUE; }, nullptr);
  GMainLoop *loop = g_main_loop_new(nullptr, FALSE);
  g_unix_signal_add(SIGTERM, [](gpointer l) -> gboolean { g_main_loop_quit((GMainLoop *)l); return G_SOURCE_REMOVE; },
                    loop);
  g_main_loop_run(loop);
  return 0;
}
