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

// How long each step waits for the portal; it may show the person a confirmation first.
guint answer_wait_ms = 25 * 1000;

enum bind_step { step_idle, step_bus, step_session, step_shortcut, step_bound };

/*
 * The shortcut, UI thread only. A bind walks through three steps (the session bus,
 * CreateSession, BindShortcuts), each answered later on the main loop. `attempt` grows
 * with every bind and release, and every callback carries the attempt it belongs to, so an
 * answer for a bind that was given up meanwhile is recognised and dropped. While a step
 * waits for the portal's Response signal, `response_watch` and `deadline` are set.
 */
struct portal_state {
  unsigned attempt = 0;
  bind_step step = step_idle;
  GDBusConnection *bus = nullptr;
  GCancellable *cancel = nullptr;
  std::string trigger;
  std::string session;        // the session's object path, once asked for
  unsigned request = 0;        // the request whose Response is awaited
  guint response_watch = 0;
  guint deadline = 0;
  guint activated_watch = 0;
  void (*press_action)(void) = nullptr;
  void (*answer)(bool, void *) = nullptr;  // set while a bind waits
  void *answer_data = nullptr;
};

portal_state bound;

gpointer tag(unsigned attempt) { return GUINT_TO_POINTER(attempt); }
bool current(gpointer data) { return GPOINTER_TO_UINT(data) == bound.attempt; }

// The portal's object path for a handle token of ours, known before the call so its
// answer can't arrive before we listen for it. `kind` is "request" or "session".
std::string handle_path(GDBusConnection *bus, const char *kind, const std::string &token) {
  std::string sender = g_dbus_connection_get_unique_name(bus) + 1;  // without the ':'
  for (char &c : sender)
    if (c == '.') c = '_';
  return std::string(portal_path) + "/" + kind + "/" + sender + "/" + token;
}

std::string new_token(const char *kind) {
  static unsigned counter = 0;
  return std::string("msw_") + kind + std::to_string(++counter);
}

void stop_waiting(void) {
  if (bound.response_watch) g_dbus_connection_signal_unsubscribe(bound.bus, bound.response_watch);
  if (bound.deadline) g_source_remove(bound.deadline);
  bound.response_watch = 0;
  bound.deadline = 0;
}

// Ends the bind in hand. The answer goes out last: it may start another bind.
void finish(bool ok) {
  stop_waiting();
  void (*answer)(bool, void *) = bound.answer;
  void *data = bound.answer_data;
  bound.answer = nullptr;
  bound.answer_data = nullptr;
  if (ok) {
    g_clear_object(&bound.cancel);
    bound.step = step_bound;
  } else {
    portal_shortcut_release();
  }
  if (answer) answer(ok, data);
}

void on_response(GDBusConnection *, const gchar *, const gchar *, const gchar *, const gchar *, GVariant *, gpointer);

// Sends one portal request and waits, on the main loop, for its Response signal.
void request(const char *method, GVariant *params, const std::string &token) {
  static unsigned requests = 0;
  bound.request = ++requests;
  std::string path = handle_path(bound.bus, "request", token);
  bound.response_watch = g_dbus_connection_signal_subscribe(
      bound.bus, portal_name, "org.freedesktop.portal.Request", "Response", path.c_str(), nullptr,
      G_DBUS_SIGNAL_FLAGS_NONE, on_response, tag(bound.attempt), nullptr);
  bound.deadline = g_timeout_add(answer_wait_ms, [](gpointer attempt) -> gboolean {
    if (current(attempt)) {
      bound.deadline = 0;  // this source ends by returning
      log_failure("black-out key", "the portal did not answer in time");
      finish(false);
    }
    return G_SOURCE_REMOVE;
  }, tag(bound.attempt));
  g_dbus_connection_call(bound.bus, portal_name, portal_path, shortcuts_interface, method, params,
                         G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE, 5000, bound.cancel,
                         [](GObject *bus, GAsyncResult *result, gpointer request) {
                           GError *error = nullptr;
                           GVariant *reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(bus), result, &error);
                           if (reply) g_variant_unref(reply);
                           // Only a failure of the request still awaited ends the bind.
                           if (error && GPOINTER_TO_UINT(request) == bound.request && bound.response_watch) {
                             log_failure("black-out key", "no global shortcuts portal: %s", error->message);
                             finish(false);
                           }
                           g_clear_error(&error);
                         },
                         GUINT_TO_POINTER(bound.request));
}

void start_session(void) {
  std::string token = new_token("request"), session_token = new_token("session");
  // The session's path is known from its token: a bind given up before the portal answers
  // can still close the session the portal may be making.
  bound.session = handle_path(bound.bus, "session", session_token);
  bound.step = step_session;
  GVariantBuilder options;
  g_variant_builder_init(&options, G_VARIANT_TYPE("a{sv}"));
  g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
  g_variant_builder_add(&options, "{sv}", "session_handle_token", g_variant_new_string(session_token.c_str()));
  request("CreateSession", g_variant_new("(a{sv})", &options), token);
}

void on_activated(GDBusConnection *, const gchar *, const gchar *, const gchar *, const gchar *, GVariant *params,
                  gpointer) {
  const gchar *session = nullptr, *id = nullptr;
  g_variant_get(params, "(&o&sta{sv})", &session, &id, nullptr, nullptr);
  if (bound.press_action && bound.session == session && strcmp(id, shortcut_id) == 0) bound.press_action();
}

void start_bind(void) {
  // Listening before binding: a press right after the bind is not lost.
  bound.activated_watch =
      g_dbus_connection_signal_subscribe(bound.bus, portal_name, shortcuts_interface, "Activated", portal_path,
                                         nullptr, G_DBUS_SIGNAL_FLAGS_NONE, on_activated, nullptr, nullptr);
  bound.step = step_shortcut;
  std::string token = new_token("request");
  GVariantBuilder properties, shortcuts, options;
  g_variant_builder_init(&properties, G_VARIANT_TYPE("a{sv}"));
  g_variant_builder_add(&properties, "{sv}", "description", g_variant_new_string("Black out mosswire"));
  g_variant_builder_add(&properties, "{sv}", "preferred_trigger", g_variant_new_string(bound.trigger.c_str()));
  g_variant_builder_init(&shortcuts, G_VARIANT_TYPE("a(sa{sv})"));
  g_variant_builder_add(&shortcuts, "(s@a{sv})", shortcut_id, g_variant_builder_end(&properties));
  g_variant_builder_init(&options, G_VARIANT_TYPE("a{sv}"));
  g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
  request("BindShortcuts",
          g_variant_new("(o@a(sa{sv})sa{sv})", bound.session.c_str(), g_variant_builder_end(&shortcuts), "", &options),
          token);
}

// The session as the portal names it. Older portals give the handle as a string, the
// documented type; a path is accepted too.
std::string session_of(GVariant *results) {
  std::string session;
  GVariant *handle = g_variant_lookup_value(results, "session_handle", nullptr);
  if (handle && (g_variant_is_of_type(handle, G_VARIANT_TYPE_STRING) ||
                 g_variant_is_of_type(handle, G_VARIANT_TYPE_OBJECT_PATH)))
    session = g_variant_get_string(handle, nullptr);
  if (handle) g_variant_unref(handle);
  return g_variant_is_object_path(session.c_str()) ? session : "";
}

bool lists_our_shortcut(GVariant *results) {
  bool listed = false;
  GVariant *list = g_variant_lookup_value(results, "shortcuts", G_VARIANT_TYPE("a(sa{sv})"));
  if (!list) return false;
  GVariantIter iter;
  g_variant_iter_init(&iter, list);
  const gchar *id;
  GVariant *props;
  while (g_variant_iter_next(&iter, "(&s@a{sv})", &id, &props)) {
    if (strcmp(id, shortcut_id) == 0) listed = true;
    g_variant_unref(props);
  }
  g_variant_unref(list);
  return listed;
}

void on_response(GDBusConnection *, const gchar *, const gchar *, const gchar *, const gchar *, GVariant *params,
                 gpointer attempt) {
  if (!current(attempt) || !bound.response_watch) return;
  if (!g_variant_is_of_type(params, G_VARIANT_TYPE("(ua{sv})"))) return;
  guint32 code = 2;
  GVariant *results = nullptr;
  g_variant_get(params, "(u@a{sv})", &code, &results);
  stop_waiting();
  if (code != 0) {
    log_failure("black-out key", "the portal refused (answer %u)", code);
    finish(false);
  } else if (bound.step == step_session) {
    std::string session = session_of(results);
    if (session.empty()) {
      log_failure("black-out key", "the portal made no session");
      finish(false);
    } else {
      bound.session = session;
      start_bind();
    }
  } else if (lists_our_shortcut(results)) {
    finish(true);
  } else {
    log_failure("black-out key", "the portal bound no shortcut");
    finish(false);
  }
  g_variant_unref(results);
}

void on_bus(GObject *, GAsyncResult *result, gpointer attempt) {
  GError *error = nullptr;
  GDBusConnection *bus = g_bus_get_finish(result, &error);
  if (!current(attempt)) {
    if (bus) g_object_unref(bus);
    g_clear_error(&error);
    return;
  }
  if (!bus) {
    log_failure("black-out key", "no session bus: %s", error ? error->message : "");
    g_clear_error(&error);
    return finish(false);
  }
  bound.bus = bus;
  start_session();
}

}  // namespace

void portal_shortcut_bind(const char *trigger, void (*on_press)(void), void (*answer)(bool, void *), void *data) {
  portal_shortcut_release();
  bound.step = step_bus;
  bound.trigger = trigger;
  bound.press_action = on_press;
  bound.answer = answer;
  bound.answer_data = data;
  bound.cancel = g_cancellable_new();
  g_bus_get(G_BUS_TYPE_SESSION, bound.cancel, on_bus, tag(bound.attempt));
}

void portal_shortcut_release(void) {
  stop_waiting();
  if (bound.cancel) g_cancellable_cancel(bound.cancel);
  g_clear_object(&bound.cancel);
  if (bound.bus) {
    if (bound.activated_watch) g_dbus_connection_signal_unsubscribe(bound.bus, bound.activated_watch);
    // Sent without waiting for the portal: only the message must leave before we let go.
    if (!bound.session.empty())
      g_dbus_connection_call(bound.bus, portal_name, bound.session.c_str(), "org.freedesktop.portal.Session",
                             "Close", nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr, nullptr);
    g_dbus_connection_flush_sync(bound.bus, nullptr, nullptr);
    g_object_unref(bound.bus);
  }
  void (*answer)(bool, void *) = bound.answer;
  void *data = bound.answer_data;
  unsigned next = bound.attempt + 1;
  bound = portal_state();
  bound.attempt = next;
  if (answer) answer(false, data);
}

void portal_shortcut_set_answer_wait(unsigned ms) { answer_wait_ms = ms; }
