// The desktop bindings' own rules on the fake platform (no display, no session bus): the
// title's repair, notification fields and what a notification needs, the black-out key,
// and every binding answering once with a result the bridge contract allows.
#include <gtest/gtest.h>

#include <string>

#include "app/common/utf8.h"
#include "app/services/bindings.h"
#include "app/services/desktop.h"
#include "bridge_contract.h"
#include "tests/services/fake_platform.h"
#include "tests/services/host_double.h"
#include "tests/services/test_env.h"

static int main_window;  // stands in for the host's window handle

class Bindings : public ::testing::Test {
 protected:
  void SetUp() override {
    host.window = &main_window;
    host_reset();
    fake_platform_reset();
  }
};

TEST_F(Bindings, TitleTakesTheTextAsGiven) {
  EXPECT_EQ(call_binding("msw_title", "[\"mosswire (3)\"]"), "null");
  EXPECT_EQ(call_binding("msw_title", "[null]"), "null");
  EXPECT_EQ(call_binding("msw_title", "[]"), "null");
  EXPECT_EQ(call_binding("msw_title", "[\"a\\ud83dx\"]"), "null");
  ASSERT_EQ(host.titles.size(), 3u);
  EXPECT_EQ(host.titles[0], "mosswire (3)");
  EXPECT_EQ(host.titles[1], "null");
  EXPECT_TRUE(utf8_valid(host.titles[2])) << host.titles[2];
  EXPECT_EQ(host.titles[2].front(), 'a');
  EXPECT_EQ(host.titles[2].back(), 'x');
}

// The window the host names is the one the platform is asked about; without one the
// answer is "not in front" and nothing is asked.
TEST_F(Bindings, FocusAndAttentionAskAboutTheHostsWindow) {
  fake.in_front = true;
  EXPECT_EQ(call_binding("msw_focused", "[]"), "true");
  fake.in_front = false;
  EXPECT_EQ(call_binding("msw_focused", "[]"), "false");
  EXPECT_EQ(call_binding("msw_attention", "[]"), "null");
  ASSERT_EQ(fake.attention_requests.size(), 1u);
  EXPECT_EQ(fake.attention_requests[0], (void *)&main_window);
  host.window = nullptr;
  fake.in_front = true;
  EXPECT_EQ(call_binding("msw_focused", "[]"), "false");
}

TEST_F(Bindings, ClipboardTextGoesAsGivenAndNothingComesBackFromNothing) {
  EXPECT_EQ(call_binding("msw_paste", "[]"), "null");
  EXPECT_EQ(call_binding("msw_copy", "[\"a\\\"b\\u00e9\"]"), "null");
  EXPECT_EQ(fake.clipboard, "a\"b\xc3\xa9");
  EXPECT_EQ(call_binding("msw_paste", "[]"), "\"a\\\"b\xc3\xa9\"");
  EXPECT_EQ(call_binding("msw_copy", "[]"), "null");  // no text: nothing changes
  EXPECT_EQ(fake.clipboard, "a\"b\xc3\xa9");
}

TEST_F(Bindings, ANotificationNeedsBothTextsAndAWindowAndItsClickShowsTheWindow) {
  EXPECT_EQ(call_binding("msw_notify", "[\"only a title\"]"), "null");
  EXPECT_EQ(call_binding("msw_notify", "[]"), "null");
  host.window = nullptr;
  EXPECT_EQ(call_binding("msw_notify", "[\"t\",\"b\"]"), "null");
  EXPECT_TRUE(fake.notifications.empty());

  host.window = &main_window;
  std::string title64(64, 't');
  EXPECT_EQ(call_binding("msw_notify", ("[\"" + title64 + "\",\"body\"]").c_str()), "null");
  ASSERT_EQ(fake.notifications.size(), 1u);
  EXPECT_EQ(fake.notifications[0].title, "");  // too long for its field
  EXPECT_EQ(fake.notifications[0].body, "body");
  EXPECT_EQ(fake.notifications[0].window, (void *)&main_window);
  ASSERT_NE(fake.notifications[0].on_click, nullptr);
  fake.notifications[0].on_click();
  EXPECT_EQ(host.show_calls, 1);

  // A notification server that refuses, or a tray icon that can't be added, still answers.
  fake.notifications_work = false;
  host.tray_present = false;
  EXPECT_EQ(call_binding("msw_notify", "[\"t\",\"b\"]"), "null");
}

TEST(NotificationFields, FitInTheirUnitsOrAreEmpty) {
  EXPECT_EQ(notification_field(std::string(63, 'x').c_str(), 64), std::string(63, 'x'));
  EXPECT_EQ(notification_field(std::string(64, 'x').c_str(), 64), "");
  std::string emoji;
  for (int i = 0; i < 31; i++) emoji += "\xf0\x9f\x98\x80";  // 62 units
  EXPECT_EQ(notification_field((emoji + "x").c_str(), 64), emoji + "x");
  EXPECT_EQ(notification_field((emoji + "\xf0\x9f\x98\x80").c_str(), 64), "");
  EXPECT_EQ(notification_field(std::string(255, 'b').c_str(), 256), std::string(255, 'b'));
  EXPECT_EQ(notification_field(std::string(256, 'b').c_str(), 256), "");
  EXPECT_EQ(notification_field("a\xff" "b", 64), "a\xef\xbf\xbd" "b");
}

// --- black-out key

TEST_F(Bindings, PanicKeyIsRegisteredOnlyWhenGlobalIsTrue) {
  EXPECT_EQ(call_binding("msw_set_panic", "[\"KeyB\",true]"), "true");
  EXPECT_EQ(host.blackout_names.back(), "KeyB");
  ASSERT_NE(host.blackout_action, nullptr);
  host.blackout_action();
  EXPECT_EQ(host.panic_calls, 1);

  EXPECT_EQ(call_binding("msw_set_panic", "[\"Tab\",\"true\"]"), "true");
  EXPECT_EQ(host.blackout_names.back(), "Tab");
  host.blackout_accepts = false;  // the host does not know the key, or it is taken
  EXPECT_EQ(call_binding("msw_set_panic", "[\"F25\",true]"), "false");
  host.blackout_accepts = true;
  for (const char *args : {"[\"KeyB\",false]", "[\"KeyB\"]", "[]", "[\"KeyB\",1]", "nonsense"}) {
    EXPECT_EQ(call_binding("msw_set_panic", args), "false") << args;
    EXPECT_EQ(host.blackout_names.back(), "") << args;
    EXPECT_EQ(host.blackout_action, nullptr) << args;
  }
}

TEST_F(Bindings, PanicKeyIsAnsweredWhenTheDesktopAnswersAndEachCallOnce) {
  host.blackout_defers = true;
  std::string first = call_binding_async("msw_set_panic", "[\"F12\",true]");
  EXPECT_EQ(wait_reply_for(first, 200), "<no reply>") << "answered before the desktop did";
  host_answer_blackout(true);
  EXPECT_EQ(wait_reply(first), "true");

  // A second setting while one still waits: the waiting call is answered false, once.
  std::string waiting = call_binding_async("msw_set_panic", "[\"F11\",true]");
  std::string next = call_binding_async("msw_set_panic", "[\"F10\",true]");
  EXPECT_EQ(wait_reply(waiting), "false");
  host_answer_blackout(false);  // the desktop refused
  EXPECT_EQ(wait_reply(next), "false");
  // Turning it off while one waits answers both at once.
  waiting = call_binding_async("msw_set_panic", "[\"F9\",true]");
  std::string off = call_binding_async("msw_set_panic", "[\"F9\",false]");
  EXPECT_EQ(wait_reply_for(waiting, 0), "false");
  EXPECT_EQ(wait_reply_for(off, 0), "false");
  host_answer_blackout(true);  // nothing is held any more: no second answer
  EXPECT_EQ(wait_reply(waiting), "false");
}

// --- every binding answers exactly once, whatever it is given

static bool is_string(const std::string &r) {
  return r.size() >= 2 && r.front() == '"' && r.back() == '"';
}

// The results each binding may give for arguments that carry nothing usable.
static bool allowed(const std::string &name, const std::string &r) {
  if (name == "msw_read_vault" || name == "msw_paste" || name == "msw_owner_key" ||
      name == "msw_owner_secret")
    return r == "null" || is_string(r);
  if (name == "msw_write_vault" || name == "msw_set_panic" || name == "msw_startup" ||
      name == "msw_focused")
    return r == "true" || r == "false";
  if (name == "msw_pin_start")
    return !r.empty() && r.find_first_not_of("0123456789") == std::string::npos;
  if (name == "msw_wipe") return r == "true";
  if (name == "msw_update") return r == "{\"err\":\"Couldn't start the update.\"}";
  if (name == "msw_update_install") return r == "\"none\"";
  return r == "null";
}

// The JSON kind of a reply, as a result_kind bit; 0 for anything else.
static int kind_of(const std::string &r) {
  if (r == "null") return result_null;
  if (r == "true" || r == "false") return result_bool;
  if (!r.empty() && r.find_first_not_of("0123456789") == std::string::npos) return result_number;
  if (is_string(r)) return result_string;
  if (r.size() >= 2 && r.front() == '{' && r.back() == '}') return result_object;
  return 0;
}

// The binding table is the contract's list of calls, and every call answers once with a
// result of a kind the contract declares for it, whatever arguments it is given.
TEST_F(Bindings, EveryBindingAnswersOnceWithAResultTheContractAllows) {
  ASSERT_EQ(msw_binding_count, contract_call_count);
  for (int i = 0; i < contract_call_count; i++) EXPECT_STREQ(msw_bindings[i].name, contract_calls[i].name);
  // The device secret has test programs of its own, with and without a Secret Service.
  for (const char *args : {"", "[", "{}", "[\"", "[\"\\u", "[[[", "[1,2,3]", "null", "[{\"a\":[1]}]"}) {
    for (const contract_call &call : contract_calls) {
      if (std::string(call.name) == "msw_device_secret") continue;
      std::string reply = call_binding_answered(call.name, args);
      EXPECT_TRUE(allowed(call.name, reply)) << call.name << " " << args << " -> " << reply;
      EXPECT_TRUE(kind_of(reply) & call.results) << call.name << " " << args << " -> " << reply;
    }
  }
}

int main(int argc, char **argv) {
  isolate_environment(false);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
