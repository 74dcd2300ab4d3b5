#include "app/platform/linux/portal_shortcut.h"

#include <gio/gio.h>
#include <string.h>

#include <string>

#include "app/platform/log.h"

namespace {

const char portal_name[] = "org.freedesktop.portal.Desktop";
const char portal_path[] = "/org/freedesktop/portal/desktop";
const char shortcuts_interface[] = "org.freedesktop.portal.GlobalShortcuts";
const char shortcut_id[] = "blackout";

// How long the bind waits for the portal; it may show the person a confirmation first.
const gint64 answer_wait_us = 25 * G_USEC_PER_SEC;

// The bound shortcut, UI thread only: the bus, the portal session, the Activated
// subscription and what a press does.
struct portal_state {
  GDBusConnection *bus = nullptr;
  std::string session;
  guint activated_watch = 0;
  void (*press_action)(void) = nullptr;
};

portal_state bound;

struct request_wait {
  bool answered = false;
  guint32 code = 2;
  GVariant *results = nullptr;
};

void on_response(GDBusConnection *, const gchar *, const gchar *, const gchar *, const gchar *,
                 GVariant *params, gpointer data) {
  request_wait *wait = (request_wait *)data;
  if (wait->answered) return;
  wait->answered = true;
  g_variant_get(params, "(u@a{sv})", &wait->code, &wait->results);
}

// The portal's request object path for a handle token, known before the call so the
// answer can't arrive before we listen for it.
std::string request_path(GDBusConnection *bus, const char *token) {
  std::string sender = g_dbus_connection_get_unique_name(bus) + 1;  // without the ':'
  for (char &c : sender)
    if (c == '.') c = '_';
  return std::string(portal_path) + "/request/" + sender + "/" + token;
}

std::string new_token(const char *kind) {
  static unsigned counter = 0;
  return std::string("msw_") + kind + std::to_string(++counter);
}

/*
 * Calls a portal method that answers through a Request object and waits for its Response
 * on a private main context, so nothing else of the program runs meanwhile. True with the
 * results (unref them) when the portal answered success.
 */
bool call_and_wait(GDBusConnection *bus, const char *method, GVariant *params, const std::string &token,
                   GVariant **results) {
  GMainContext *context = g_main_context_new();
  g_main_context_push_thread_default(context);
  request_wait wait;
  std::string path = request_path(bus, token.c_str());
  guint watch = g_dbus_connection_signal_subscribe(
      bus, portal_name, "org.freedesktop.portal.Request", "Response", path.c_str(), nullptr,
      G_DBUS_SIGNAL_FLAGS_NONE, on_response, &wait, nullptr);
  GError *error = nullptr;
  GVariant *reply = g_dbus_connection_call_sync(bus, portal_name, portal_path, shortcuts_interface,
                                                method, params, G_VARIANT_TYPE("(o)"),
                                                G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error);
  if (reply) {
    g_variant_unref(reply);
    gint64 deadline = g_get_monotonic_time() + answer_wait_us;
    while (!wait.answered && g_get_monotonic_time() < deadline) {
      GSource *tick = g_timeout_source_new(100);
      g_source_set_callback(tick, [](gpointer) { return G_SOURCE_REMOVE; }, nullptr, nullptr);
      g_source_attach(tick, context);
      g_main_context_iteration(context, TRUE);
      g_source_destroy(tick);
      g_source_unref(tick);
    }
    if (!wait.answered) log_failure("black-out key", "the portal did not answer %s", method);
  } else {
    log_failure("black-out key", "no global shortcuts portal: %s", error->message);
    g_error_free(error);
  }
  g_dbus_connection_signal_unsubscribe(bus, watch);
  g_main_context_pop_thread_default(context);
  while (g_main_context_iteration(context, FALSE)) {
  }
  g_main_context_unref(context);
  if (wait.answered && wait.code != 0)
    log_failure("black-out key", "the portal refused %s (answer %u)", method, wait.code);
  bool ok = wait.answered && wait.code == 0 && wait.results;
  if (ok) *results = wait.results;
  else if (wait.results) g_variant_unref(wait.results);
  return ok;
}

void close_session(GDBusConnection *bus, const std::string &session) {
  GVariant *r = g_dbus_connection_call_sync(bus, portal_name, session.c_str(),
                                            "org.freedesktop.portal.Session", "Close", nullptr,
                                            nullptr, G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, nullptr);
  if (r) g_variant_unref(r);
}

std::string create_session(GDBusConnection *bus) {
  std::string token = new_token("request"), session_token = new_token("session");
  GVariantBuilder options;
  g_variant_builder_init(&options, G_VARIANT_TYPE("a{sv}"));
  g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
  g_variant_builder_add(&options, "{sv}", "session_handle_token",
                        g_variant_new_string(session_token.c_str()));
  GVariant *results = nullptr;
  if (!call_and_wait(bus, "CreateSession", g_variant_new("(a{sv})", &options), token, &results))
    return "";
  std::string session;
  // Older portals give the handle as a string, the documented type; accept a path too.
  GVariant *handle = g_variant_lookup_value(results, "session_handle", nullptr);
  if (handle && (g_variant_is_of_type(handle, G_VARIANT_TYPE_STRING) ||
                 g_variant_is_of_type(handle, G_VARIANT_TYPE_OBJECT_PATH)))
    session = g_variant_get_string(handle, nullptr);
  if (handle) g_variant_unref(handle);
  g_variant_unref(results);
  if (!g_variant_is_object_path(session.c_str())) return "";
  return session;
}

// True when the portal's answer lists our shortcut as bound.
bool bind_shortcut(GDBusConnection *bus, const std::string &session, const char *trigger) {
  std::string token = new_token("request");
  GVariantBuilder properties, shortcuts, options;
  g_variant_builder_init(&properties, G_VARIANT_TYPE("a{sv}"));
  g_variant_builder_add(&properties, "{sv}", "description",
                        g_variant_new_string("Black out mosswire"));
  g_variant_builder_add(&properties, "{sv}", "preferred_trigger", g_variant_new_string(trigger));
  g_variant_builder_init(&shortcuts, G_VARIANT_TYPE("a(sa{sv})"));
  g_variant_builder_add(&shortcuts, "(s@a{sv})", shortcut_id, g_variant_builder_end(&properties));
  g_variant_builder_init(&options, G_VARIANT_TYPE("a{sv}"));
  g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
  GVariant *params = g_variant_new("(o@a(sa{sv})sa{sv})", session.c_str(),
                                   g_variant_builder_end(&shortcuts), "", &options);
  GVariant *results = nullptr;
  if (!call_and_wait(bus, "BindShortcuts", params, token, &results)) return false;
  bool listed = false;
  GVariant *list = g_variant_lookup_value(results, "shortcuts", G_VARIANT_TYPE("a(sa{sv})"));
  if (list) {
    GVariantIter iter;
    g_variant_iter_init(&iter, list);
    const gchar *id;
    GVariant *props;
    while (g_variant_iter_next(&iter, "(&s@a{sv})", &id, &props)) {
      if (strcmp(id, shortcut_id) == 0) listed = true;
      g_variant_unref(props);
    }
    g_variant_unref(list);
  }
  g_variant_unref(results);
  if (!listed) log_failure("black-out key", "the portal bound no shortcut");
  return listed;
}

void on_activated(GDBusConnection *, const gchar *, const gchar *, const gchar *, const gchar *,
                  GVariant *params, gpointer) {
  const gchar *session = nullptr, *id = nullptr;
  g_variant_get(params, "(&o&sta{sv})", &session, &id, nullptr, nullptr);
  if (bound.press_action && bound.session == session && strcmp(id, shortcut_id) == 0)
    bound.press_action();
}

}  // namespace

bool portal_shortcut_bind(const char *trigger, void (*on_press)(void)) {
  portal_shortcut_release();
  GDBusConnection *bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (!bus) return false;
  std::string session = create_session(bus);
  if (session.empty()) {
    g_object_unref(bus);
    return false;
  }
  // Listening before binding: a press right after the bind is not lost.
  bound.bus = bus;
  bound.session = session;
  bound.press_action = on_press;
  bound.activated_watch = g_dbus_connection_signal_subscribe(
      bus, portal_name, shortcuts_interface, "Activated", portal_path, nullptr,
      G_DBUS_SIGNAL_FLAGS_NONE, on_activated, nullptr, nullptr);
  if (bind_shortcut(bus, session, trigger)) return true;
  portal_shortcut_release();
  return false;
}

void portal_shortcut_release(void) {
  if (!bound.bus) return;
  g_dbus_connection_signal_unsubscribe(bound.bus, bound.activated_watch);
  close_session(bound.bus, bound.session);
  g_object_unref(bound.bus);
  bound = portal_state();
}
