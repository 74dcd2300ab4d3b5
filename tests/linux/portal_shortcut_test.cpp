// The black-out key on a session without X11: registered through a stand-in desktop portal
// (org.freedesktop.portal.GlobalShortcuts) on a private D-Bus session, served from a thread
// of its own because the registration waits for the portal's answers. No display is opened,
// so the key can only come through the portal.
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

#include "app/platform/hotkey.h"
#include "app/platform/linux/portal_shortcut.h"
#include "tests/linux/bus_name.h"

static const char portal_xml[] =
    "<node><interface name='org.freedesktop.portal.GlobalShortcuts'>"
    " <method name='CreateSession'><arg type='a{sv}' direction='in'/>"
    "  <arg type='o' direction='out'/></method>"
    " <method name='BindShortcuts'><arg type='o' direction='in'/>"
    "  <arg type='a(sa{sv})' direction='in'/><arg type='s' direction='in'/>"
    "  <arg type='a{sv}' direction='in'/><arg type='o' direction='out'/></method>"
    "</interface>"
    "<interface name='org.freedesktop.portal.Session'>"
    " <method name='Close'/></interface></node>";

static const char desktop_path[] = "/org/freedesktop/portal/desktop";
static const char session_path[] = "/org/freedesktop/portal/desktop/session/msw/one";

// What the stand-in saw and how it answers, shared with the test thread.
struct portal_record {
  std::mutex lock;
  guint32 create_answer = 0, bind_answer = 0;  // 0 success, 1 cancelled, 2 other
  bool bind_lists_nothing = false;
  int bind_delay_ms = 0;  // how long the person takes to confirm the bind
  std::vector<std::string> triggers, descriptions;
  int sessions = 0, closes = 0;
};
static portal_record portal;
static GDBusConnection *portal_bus;
static GMainContext *portal_context;

struct pending_response {
  std::string peer, request;
  GVariant *signal;
};

static gboolean send_response(gpointer data) {
  pending_response *r = (pending_response *)data;
  g_dbus_connection_emit_signal(portal_bus, r->peer.c_str(), r->request.c_str(),
                                "org.freedesktop.portal.Request", "Response", r->signal, nullptr);
  delete r;
  return G_SOURCE_REMOVE;
}

// The method answers with the request at once; the Response follows after delay_ms, as
// when the portal first asks the person.
static void respond(GDBusMethodInvocation *call, const char *token, guint32 code, GVariant *results,
                    int delay_ms = 0) {
  std::string sender = g_dbus_method_invocation_get_sender(call) + 1;
  for (char &c : sender)
    if (c == '.') c = '_';
  std::string request = std::string(desktop_path) + "/request/" + sender + "/" + token;
  auto *r = new pending_response{g_dbus_method_invocation_get_sender(call), request,
                                 g_variant_new("(u@a{sv})", code, results)};
  g_dbus_method_invocation_return_value(call, g_variant_new("(o)", request.c_str()));
  if (delay_ms <= 0) {
    send_response(r);
    return;
  }
  GSource *later = g_timeout_source_new(delay_ms);
  g_source_set_callback(later, send_response, r, nullptr);
  g_source_attach(later, portal_context);
  g_source_unref(later);
}

static void portal_call(GDBusConnection *, const gchar *, const gchar *object, const gchar *,
                        const gchar *method, GVariant *params, GDBusMethodInvocation *call, gpointer) {
  std::lock_guard<std::mutex> hold(portal.lock);
  std::string name = method;
  const gchar *token = "";
  GVariantDict results;
  g_variant_dict_init(&results, nullptr);
  if (name == "Close") {
    if (g_strcmp0(object, session_path) == 0) portal.closes++;
    g_dbus_method_invocation_return_value(call, nullptr);
  } else if (name == "CreateSession") {
    GVariant *options = g_variant_get_child_value(params, 0);
    g_variant_lookup(options, "handle_token", "&s", &token);
    portal.sessions++;
    g_variant_dict_insert(&results, "session_handle", "s", session_path);
    respond(call, token, portal.create_answer, g_variant_dict_end(&results));
    g_variant_unref(options);
  } else {
    GVariant *shortcuts = g_variant_get_child_value(params, 1);
    GVariant *options = g_variant_get_child_value(params, 3);
    g_variant_lookup(options, "handle_token", "&s", &token);
    GVariantIter iter;
    g_variant_iter_init(&iter, shortcuts);
    const gchar *id;
    GVariant *props;
    while (g_variant_iter_next(&iter, "(&s@a{sv})", &id, &props)) {
      const gchar *text = "";
      if (g_variant_lookup(props, "preferred_trigger", "&s", &text)) portal.triggers.push_back(text);
      if (g_variant_lookup(props, "description", "&s", &text)) portal.descriptions.push_back(text);
      g_variant_unref(props);
    }
    g_variant_dict_insert_value(&results, "shortcuts",
                                portal.bind_lists_nothing
                                    ? g_variant_new_array(G_VARIANT_TYPE("(sa{sv})"), nullptr, 0)
                                    : shortcuts);
    respond(call, token, portal.bind_answer, g_variant_dict_end(&results), portal.bind_delay_ms);
    g_variant_unref(shortcuts);
    g_variant_unref(options);
  }
}

static void run_portal(std::atomic<int> *state) {
  portal_context = g_main_context_new();
  g_main_context_push_thread_default(portal_context);
  gchar *address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  portal_bus = g_dbus_connection_new_for_address_sync(
      address,
      (GDBusConnectionFlags)(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                             G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, nullptr);
  g_free(address);
  GDBusNodeInfo *info = g_dbus_node_info_new_for_xml(portal_xml, nullptr);
  static const GDBusInterfaceVTable vtable = {portal_call, nullptr, nullptr, {nullptr}};
  g_dbus_connection_register_object(portal_bus, desktop_path, info->interfaces[0], &vtable,
                                    nullptr, nullptr, nullptr);
  g_dbus_connection_register_object(portal_bus, session_path, info->interfaces[1], &vtable,
                                    nullptr, nullptr, nullptr);
  *state = own_bus_name(portal_bus, "org.freedesktop.portal.Desktop") ? 1 : 2;
  for (;;) g_main_context_iteration(portal_context, TRUE);
}

static void activate(const char *session, const char *id) {
  g_dbus_connection_emit_signal(portal_bus, nullptr, desktop_path,
                                "org.freedesktop.portal.GlobalShortcuts", "Activated",
                                g_variant_new("(osta{sv})", session, id, (guint64)1, nullptr),
                                nullptr);
  g_dbus_connection_flush_sync(portal_bus, nullptr, nullptr);
}

static int presses = 0;
static void on_press(void) { presses++; }

// Turns the main loop for a while, so signals already sent are delivered.
static void turn_loop(int ms) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    g_main_context_iteration(nullptr, FALSE);
    usleep(5000);
  }
}

static std::atomic<int> portal_state{0};  // 0 not started, 1 serving, 2 absent

// One registration's answers: how many came and the last one.
struct answers_seen {
  int count = 0;
  bool registered = false;
};

static void on_answer(bool registered, void *data) {
  answers_seen *seen = (answers_seen *)data;
  seen->count++;
  seen->registered = registered;
}

// Turns the main loop until the registration has answered (or 30 s passed).
static bool wait_answer(const answers_seen &seen) {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (seen.count == 0 && std::chrono::steady_clock::now() < end) g_main_context_iteration(nullptr, FALSE), usleep(2000);
  return seen.count > 0;
}

// Registers the key and waits for the answer; true when the key is taken.
static bool register_key(int code) {
  answers_seen seen;
  hotkey_register(code, on_press, on_answer, &seen);
  EXPECT_TRUE(wait_answer(seen)) << "no answer";
  turn_loop(50);
  EXPECT_EQ(seen.count, 1) << "answered more than once";
  return seen.registered;
}

static int closes_seen(void) {
  std::lock_guard<std::mutex> hold(portal.lock);
  return portal.closes;
}

// Waits for the stand-in to have seen `count` session closes; they are sent without
// waiting for the portal.
static int wait_closes(int count) {
  for (int i = 0; i < 200 && closes_seen() < count; i++) turn_loop(10);
  return closes_seen();
}

// How long the stand-in person takes to confirm a bind.
static void bind_delay(int ms) {
  std::lock_guard<std::mutex> hold(portal.lock);
  portal.bind_delay_ms = ms;
}

static void answers(guint32 create, guint32 bind, bool lists_nothing) {
  std::lock_guard<std::mutex> hold(portal.lock);
  portal.create_answer = create;
  portal.bind_answer = bind;
  portal.bind_lists_nothing = lists_nothing;
}

TEST(PortalShortcut, WithoutAPortalTheKeyIsRefused) {
  // Runs first: the stand-in is not on the bus yet.
  ASSERT_EQ(portal_state, 0);
  EXPECT_FALSE(register_key(0x7B));
  std::atomic<int> *state = &portal_state;
  std::thread(run_portal, state).detach();
  for (int i = 0; i < 100 && portal_state == 0; i++) usleep(50000);
  ASSERT_EQ(portal_state, 1);
}

TEST(PortalShortcut, TheKeyIsBoundWithItsTriggerAndEachActivationPressesOnce) {
  ASSERT_EQ(portal_state, 1);
  answers(0, 0, false);
  presses = 0;
  ASSERT_TRUE(register_key(0x7B));  // F12
  {
    std::lock_guard<std::mutex> hold(portal.lock);
    ASSERT_EQ(portal.triggers.size(), 1u);
    EXPECT_EQ(portal.triggers.back(), "F12");
    EXPECT_FALSE(portal.descriptions.back().empty());
  }
  activate(session_path, "blackout");
  turn_loop(300);
  EXPECT_EQ(presses, 1);
  // Another program's session or shortcut is not ours.
  activate("/org/freedesktop/portal/desktop/session/other/x", "blackout");
  activate(session_path, "something-else");
  turn_loop(300);
  EXPECT_EQ(presses, 1);
  activate(session_path, "blackout");
  turn_loop(300);
  EXPECT_EQ(presses, 2);

  // A letter key goes as its keysym name; the earlier session is closed first.
  ASSERT_TRUE(register_key('B'));
  hotkey_unregister();
  EXPECT_EQ(wait_closes(2), 2);
  {
    std::lock_guard<std::mutex> hold(portal.lock);
    EXPECT_EQ(portal.triggers.back(), "b");
  }
  activate(session_path, "blackout");
  turn_loop(300);
  EXPECT_EQ(presses, 2);
}

TEST(PortalShortcut, ARefusingPortalAnswersFalseAndKeepsNothing) {
  ASSERT_EQ(portal_state, 1);
  presses = 0;
  int closes_before;
  {
    std::lock_guard<std::mutex> hold(portal.lock);
    closes_before = portal.closes;
  }
  answers(0, 1, false);  // the person cancelled the bind
  EXPECT_FALSE(register_key(0x7B));
  answers(0, 0, true);  // bound, but not our shortcut
  EXPECT_FALSE(register_key(0x7B));
  answers(2, 0, false);  // no session
  EXPECT_FALSE(register_key(0x7B));
  // The two sessions made were closed; the refused one is closed by its path too, which
  // a portal that made none ignores.
  EXPECT_GE(wait_closes(closes_before + 2), closes_before + 2);
  activate(session_path, "blackout");
  turn_loop(300);
  EXPECT_EQ(presses, 0);
}

TEST(PortalShortcut, TheLoopKeepsRunningWhileThePersonConfirmsAndTheAnswerStillComes) {
  ASSERT_EQ(portal_state, 1);
  answers(0, 0, false);
  bind_delay(1500);
  presses = 0;
  int ticks = 0;
  guint ticker = g_timeout_add(20, [](gpointer n) -> gboolean { ++*(int *)n; return G_SOURCE_CONTINUE; }, &ticks);
  answers_seen seen;
  auto started = std::chrono::steady_clock::now();
  hotkey_register(0x78, on_press, on_answer, &seen);  // F9
  auto returned = std::chrono::steady_clock::now();
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(returned - started).count(), 500);
  EXPECT_EQ(seen.count, 0);
  ASSERT_TRUE(wait_answer(seen));
  auto answered = std::chrono::steady_clock::now();
  g_source_remove(ticker);
  EXPECT_TRUE(seen.registered);
  EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(answered - started).count(), 1400);
  // Dispatching went on throughout the wait: about 75 ticks of 20 ms.
  EXPECT_GE(ticks, 40);
  activate(session_path, "blackout");
  turn_loop(300);
  EXPECT_EQ(presses, 1);
  hotkey_unregister();
  bind_delay(0);
}

TEST(PortalShortcut, ARegistrationGivenUpWhileWaitingAnswersFalseOnceAndBindsNothing) {
  ASSERT_EQ(portal_state, 1);
  answers(0, 0, false);
  bind_delay(800);
  presses = 0;
  // A new key while the first still waits: the first answers false, the second true.
  answers_seen first, second;
  hotkey_register(0x78, on_press, on_answer, &first);
  turn_loop(200);  // the session is made; the bind waits for the person
  EXPECT_EQ(first.count, 0);
  hotkey_register(0x79, on_press, on_answer, &second);
  EXPECT_EQ(first.count, 1);
  EXPECT_FALSE(first.registered);
  ASSERT_TRUE(wait_answer(second));
  EXPECT_TRUE(second.registered);
  turn_loop(1000);  // the first bind's late answer changes nothing
  EXPECT_EQ(first.count, 1);
  EXPECT_EQ(second.count, 1);
  activate(session_path, "blackout");
  turn_loop(300);
  EXPECT_EQ(presses, 1);

  // Released while waiting: answered false at once, and the late answer binds nothing.
  answers_seen third;
  hotkey_register(0x7A, on_press, on_answer, &third);
  turn_loop(200);
  hotkey_unregister();
  EXPECT_EQ(third.count, 1);
  EXPECT_FALSE(third.registered);
  turn_loop(1200);
  EXPECT_EQ(third.count, 1);
  activate(session_path, "blackout");
  turn_loop(300);
  EXPECT_EQ(presses, 1);
  bind_delay(0);
}

TEST(PortalShortcut, APortalThatNeverAnswersIsGivenUpWithFalseAndItsSessionClosed) {
  ASSERT_EQ(portal_state, 1);
  answers(0, 0, false);
  bind_delay(60000);  // the person never confirms
  portal_shortcut_set_answer_wait(700);
  presses = 0;
  int closes_before = closes_seen();
  answers_seen seen;
  auto started = std::chrono::steady_clock::now();
  hotkey_register(0x7B, on_press, on_answer, &seen);
  ASSERT_TRUE(wait_answer(seen));
  auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
  EXPECT_FALSE(seen.registered);
  EXPECT_GE(waited.count(), 600);
  EXPECT_LT(waited.count(), 10000);
  EXPECT_GE(wait_closes(closes_before + 1), closes_before + 1);
  activate(session_path, "blackout");
  turn_loop(300);
  EXPECT_EQ(presses, 0);
  EXPECT_EQ(seen.count, 1);
  portal_shortcut_set_answer_wait(25000);
  bind_delay(0);
}

int main(int argc, char **argv) {
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
