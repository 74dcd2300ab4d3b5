// The device secret when the keyring is locked at start, inside a private D-Bus session
// whose gnome-keyring was unlocked with a throw-away password and is then locked again.
// A stand-in system prompter (the process gnome-keyring asks to show the unlock dialog)
// keeps each prompt open for a while and then refuses it, served from a thread of its own
// so the test can watch the main loop keep turning meanwhile.
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <libsecret/secret.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "app/platform/linux/device_key.h"
#include "app/platform/linux/device_seal.h"
#include "app/services/app_files.h"
#include "tests/linux/bus_name.h"
#include "tests/services/host_double.h"
#include "tests/services/test_env.h"

static const char prompter_xml[] =
    "<node><interface name='org.gnome.keyring.internal.Prompter'>"
    " <method name='BeginPrompting'><arg type='o' direction='in'/></method>"
    " <method name='PerformPrompt'><arg type='o' direction='in'/><arg type='s' direction='in'/>"
    "  <arg type='a{sv}' direction='in'/><arg type='s' direction='in'/></method>"
    " <method name='StopPrompting'><arg type='o' direction='in'/></method>"
    "</interface></node>";

static const char login_path[] = "/org/freedesktop/secrets/collection/login";
static std::atomic<int> prompts_begun{0};
static GMainContext *prompter_context;

static gboolean refuse(gpointer call) {
  g_dbus_method_invocation_return_dbus_error((GDBusMethodInvocation *)call,
                                             "org.freedesktop.DBus.Error.Failed", "refused");
  return G_SOURCE_REMOVE;
}

static void prompter_call(GDBusConnection *, const gchar *, const gchar *, const gchar *,
                          const gchar *method, GVariant *, GDBusMethodInvocation *call, gpointer) {
  if (g_strcmp0(method, "BeginPrompting") != 0) {
    g_dbus_method_invocation_return_value(call, nullptr);
    return;
  }
  prompts_begun++;
  // The person looks at the dialog for a second and a half, then says no.
  GSource *later = g_timeout_source_new(1500);
  g_source_set_callback(later, refuse, call, nullptr);
  g_source_attach(later, prompter_context);
  g_source_unref(later);
}

// Owns org.gnome.keyring.SystemPrompter before gnome-keyring would start the real one.
static void run_prompter(std::atomic<bool> *owned) {
  prompter_context = g_main_context_new();
  g_main_context_push_thread_default(prompter_context);
  gchar *address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  GDBusConnection *connection = g_dbus_connection_new_for_address_sync(
      address,
      (GDBusConnectionFlags)(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                             G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, nullptr);
  g_free(address);
  GDBusNodeInfo *info = g_dbus_node_info_new_for_xml(prompter_xml, nullptr);
  static const GDBusInterfaceVTable vtable = {prompter_call, nullptr, nullptr, {nullptr}};
  g_dbus_connection_register_object(connection, "/org/gnome/keyring/Prompter",
                                    info->interfaces[0], &vtable, nullptr, nullptr, nullptr);
  *owned = own_bus_name(connection, "org.gnome.keyring.SystemPrompter");
  for (;;) g_main_context_iteration(prompter_context, TRUE);
}

static SecretService *service(void) {
  return secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, nullptr);
}

static void lock_login(void) {
  SecretService *s = service();
  ASSERT_NE(s, nullptr);
  GDBusProxy *proxy = G_DBUS_PROXY(s);
  GVariant *r = g_dbus_proxy_call_sync(proxy, "org.freedesktop.Secret.Service.Lock",
                                       g_variant_new_parsed("([%o],)", login_path),
                                       G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
  ASSERT_NE(r, nullptr);
  g_variant_unref(r);
  g_object_unref(s);
}

// Unlocks with the password, as the login session does, without any prompt.
static void unlock_login_out_of_band(void) {
  GDBusConnection *bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  GVariant *opened = g_dbus_connection_call_sync(
      bus, "org.freedesktop.secrets", "/org/freedesktop/secrets", "org.freedesktop.Secret.Service",
      "OpenSession", g_variant_new("(sv)", "plain", g_variant_new_string("")), nullptr,
      G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
  ASSERT_NE(opened, nullptr);
  const gchar *session = nullptr;
  GVariant *ignored = nullptr;
  g_variant_get(opened, "(v&o)", &ignored, &session);
  GVariant *secret = g_variant_new(
      "(o@ay@ays)", session, g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, "", 0, 1),
      g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, "secret", 6, 1), "text/plain");
  GVariant *r = g_dbus_connection_call_sync(
      bus, "org.freedesktop.secrets", "/org/freedesktop/secrets",
      "org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface", "UnlockWithMasterPassword",
      g_variant_new("(o@(oayays))", login_path, secret), nullptr, G_DBUS_CALL_FLAGS_NONE, -1,
      nullptr, nullptr);
  EXPECT_NE(r, nullptr);
  if (r) g_variant_unref(r);
  g_variant_unref(ignored);
  g_variant_unref(opened);
  g_object_unref(bus);
}

struct pending_calls {
  int ticks = 0;        // main-loop turns while the answers were pending
  bool answered = false;
};

static gboolean count_tick(gpointer ticks) {
  ++*(int *)ticks;
  return G_SOURCE_CONTINUE;
}

// Calls msw_device_secret `count` times at once and turns the main loop until all have
// answered (or 20 s), counting the loop's turns meanwhile.
static pending_calls call_while_turning(int count) {
  pending_calls p;
  size_t before = host.replies.size();
  msw_handler handler = binding_handler("msw_device_secret");
  for (int i = 0; i < count; i++) handler(std::to_string(i).c_str(), "[]", nullptr);
  GSource *tick = g_timeout_source_new(20);
  g_source_set_callback(tick, count_tick, &p.ticks, nullptr);
  g_source_attach(tick, nullptr);
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (host.replies.size() < before + count && std::chrono::steady_clock::now() < end)
    g_main_context_iteration(nullptr, TRUE);
  g_source_destroy(tick);
  g_source_unref(tick);
  p.answered = host.replies.size() == before + count;
  return p;
}

static std::string last_reply(void) { return host.replies.back().second; }

class LockedKeyring : public ::testing::Test {
 protected:
  void SetUp() override {
    host_reset();
    unlink(app_path("device.key", "").c_str());
    prompts_begun = 0;
  }
  void TearDown() override { unlock_login_out_of_band(); }
};

TEST_F(LockedKeyring, TheUnlockIsAskedWithoutBlockingAndARefusalAnswersNullUntilUnlocked) {
  std::string first = call_binding("msw_device_secret", "[]");
  ASSERT_EQ(first.compare(0, 11, "{\"secret\":\""), 0) << first;
  std::string sealed = read_text(app_path("device.key", ""));
  ASSERT_EQ(sealed_method(sealed), seal_keyring);

  lock_login();
  host_reset();
  // Two calls while the prompt is up share the one prompt.
  pending_calls p = call_while_turning(2);
  ASSERT_TRUE(p.answered);
  EXPECT_EQ(prompts_begun, 1);
  // The prompt stayed 1.5 s; the window's loop turned all along (20 ms a turn; a blocked
  // loop turns none, a busy machine may skip some).
  EXPECT_GE(p.ticks, 15);
  EXPECT_EQ(host.replies[0].second, "null");
  EXPECT_EQ(host.replies[1].second, "null");
  EXPECT_EQ(read_text(app_path("device.key", "")), sealed);

  // Unlocked later, the next call answers the same secret without asking.
  unlock_login_out_of_band();
  p = call_while_turning(1);
  ASSERT_TRUE(p.answered);
  EXPECT_EQ(prompts_begun, 1);
  std::string again = last_reply();
  EXPECT_EQ(again.substr(0, 56), first.substr(0, 56));
  EXPECT_NE(again.find("\"created\":false"), std::string::npos) << again;
}

TEST_F(LockedKeyring, ARefusalAtFirstRunBindsTheNewKeyToTheMachine) {
  // No wrapping key yet: a new one would go into the locked login keyring.
  keyring_clear_wrap_key();
  lock_login();
  pending_calls p = call_while_turning(1);
  ASSERT_TRUE(p.answered);
  EXPECT_EQ(prompts_begun, 1);
  EXPECT_NE(last_reply().find("\"created\":true"), std::string::npos) << last_reply();
  EXPECT_EQ(sealed_method(read_text(app_path("device.key", ""))), seal_machine);
}

int main(int argc, char **argv) {
  isolate_environment(true);
  std::atomic<bool> owned{false};
  std::thread(run_prompter, &owned).detach();
  for (int i = 0; i < 100 && !owned; i++) usleep(50000);
  if (!owned) {
    fprintf(stderr, "the stand-in prompter could not take its name\n");
    return 1;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
