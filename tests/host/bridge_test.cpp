// The bridge's texts and its native side, without a browser: a recording engine stands
// in for the platform and runs dispatched tasks when the test says so.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <deque>
#include <string>
#include <vector>

#include "bridge.h"
#include "engine_base.h"

namespace {

using namespace webview;

TEST(BridgeScripts, FixedTexts) {
  std::string s = bridge_script("POST");
  EXPECT_EQ(s.find("(function() {\n  'use strict';\n  function generateId() {\n    var bytes = new Uint8Array(16);\n"
                   "    window.crypto.getRandomValues(bytes);\n    "
                   "return Array.prototype.slice.call(bytes).map(function(n) {\n      return n.toString(16)."
                   "padStart(2, '0');\n    }).join('');\n  }\n  var Webview = (function() {\n    var _promises = "
                   "{};\n    function Webview_() {}\n    Webview_.prototype.post = function(message) {\n      "
                   "return (POST)(message);"),
            0u);
  EXPECT_NE(s.find("new Error(\"Failed to parse binding result as JSON\")"), std::string::npos);
  EXPECT_NE(s.find("window.__webview__ = new Webview();\n})()"), std::string::npos);
  EXPECT_EQ(bind_announcement("msw_x"), "if (window.__webview__) {\nwindow.__webview__.onBind(\"msw_x\")\n}");
}

// A result goes into the script once, as the JSON it is; what is not JSON never does.
TEST(BridgeScripts, ReplyScriptsCarryTheResultAsItIs) {
  EXPECT_EQ(reply_script("ab12", 0, "true"), "window.__webview__.onReply(\"ab12\", 0, true)");
  EXPECT_EQ(reply_script("ab12", 1, ""), "window.__webview__.onReply(\"ab12\", 1)");
  EXPECT_EQ(reply_script("i", 0, "\"a\\nb\""), "window.__webview__.onReply(\"i\", 0, \"a\\nb\")");
  EXPECT_EQ(reply_script("i", 0, " {\"a\":[1,null]} "), "window.__webview__.onReply(\"i\", 0,  {\"a\":[1,null]} )");
  for (const char *bad : {"{bad", "1); alert(1); (1", "\"a\nb\"", "undefined", "[1,]", "01", "\"open"})
    EXPECT_EQ(reply_script("i", 0, bad), "window.__webview__.onReply(\"i\", -1)") << bad;
  EXPECT_EQ(reply_script("a\"b", 0, "1"), "window.__webview__.onReply(\"a\\\"b\", 0, 1)");
}

TEST(BridgeScripts, BindScriptListsNamesInByteOrder) {
  std::map<std::string, int> registry = {{"b", 0}, {"a", 0}, {"c", 0}};
  EXPECT_EQ(bind_script(registry),
            "(function() {\n  'use strict';\n  var methods = [\"a\",\"b\",\"c\"];\n  methods.forEach("
            "function(name) {\n    window.__webview__.onBind(name);\n  });\n})()");
  std::map<std::string, int> ordered = {{"ab", 0}, {"a", 0}, {"B", 0}, {"\xC3\xA9", 0}};
  EXPECT_NE(bind_script(ordered).find("[\"B\",\"a\",\"ab\",\"\xC3\xA9\"]"), std::string::npos);
}

TEST(Utf8, ValidationAndRepair) {
  EXPECT_TRUE(utf8_valid("plain \xC3\xA9 \xF0\x9F\x98\x80"));
  EXPECT_FALSE(utf8_valid("\xff"));
  EXPECT_FALSE(utf8_valid("\xC3"));            // cut short
  EXPECT_FALSE(utf8_valid("\xED\xA0\xBD"));    // a surrogate
  EXPECT_FALSE(utf8_valid("\xC0\xAF"));        // overlong
  EXPECT_FALSE(utf8_valid("\xF4\x90\x80\x80"));  // above U+10FFFF
  EXPECT_EQ(utf8_repair("a\xff" "b"), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(utf8_repair("\xC3"), "\xEF\xBF\xBD");
  EXPECT_EQ(utf8_repair("ok\xC3\xA9"), "ok\xC3\xA9");
}

// A platform stand-in: records what the bridge asks of the browser.
class recording_engine : public engine_base {
 public:
  std::vector<std::string> evaluated;
  std::vector<std::string> browser_scripts;
  std::deque<std::function<void()>> queue;
  int removals = 0;

  void run_tasks() {
    while (!queue.empty()) {
      auto task = std::move(queue.front());
      queue.pop_front();
      task();
    }
  }
  void run() override {}
  void terminate() override {}
  void set_title(const std::string &) override {}
  void set_size(int, int, bool) override {}
  void navigate(const std::string &) override {}
  void eval(const std::string &script) override { evaluated.push_back(script); }
  void *window() override { return nullptr; }

 protected:
  void *add_script_impl(const std::string &code) override {
    browser_scripts.push_back(code);
    return &browser_scripts;
  }
  void remove_all_scripts_impl() override {
    browser_scripts.clear();
    removals++;
  }
  void dispatch_impl(std::function<void()> task) override { queue.push_back(std::move(task)); }
};

struct call_record {
  std::string id, args;
  void *user;
};
std::vector<call_record> calls;
void record(const char *id, const char *args, void *user) { calls.push_back({id, args, user}); }

TEST(EngineBase, BindKeepsTheBindScriptAfterEarlierInitScripts) {
  recording_engine e;
  e.add_init_script("BRIDGE");
  EXPECT_TRUE(e.bind("b", record, nullptr));
  EXPECT_TRUE(e.bind("a", record, nullptr));
  EXPECT_FALSE(e.bind("b", record, (void *)1));  // duplicate: nothing changes
  EXPECT_EQ(e.bindings().at("b").user, nullptr);
  ASSERT_EQ(e.browser_scripts.size(), 2u);
  EXPECT_EQ(e.browser_scripts[0], "BRIDGE");
  EXPECT_NE(e.browser_scripts[1].find("[\"a\",\"b\"]"), std::string::npos);
  EXPECT_EQ(e.init_scripts().size(), 2u);
  EXPECT_EQ(e.removals, 1);
  ASSERT_EQ(e.evaluated.size(), 2u);
  EXPECT_EQ(e.evaluated[1], bind_announcement("a"));
}

TEST(EngineBase, AMessageBecomesAHandlerTaskAndTheReplyAScript) {
  recording_engine e;
  int user = 7;
  e.bind("msw_title", record, &user);
  calls.clear();
  e.evaluated.clear();
  e.on_message("{\"id\":\"00ff\",\"method\":\"msw_title\",\"params\":[\"x\"]}");
  EXPECT_TRUE(calls.empty()) << "the handler must run as its own task";
  e.run_tasks();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].id, "00ff");
  EXPECT_EQ(calls[0].args, "[\"x\"]");
  EXPECT_EQ(calls[0].user, &user);

  e.on_message("{\"id\":\"1\",\"method\":\"msw_nothing\",\"params\":[]}");
  e.on_message("not json");
  e.run_tasks();
  EXPECT_EQ(calls.size(), 1u);

  e.reply("00ff", 0, "\"a\\nb\"");
  e.reply("0100", 0, "");
  e.reply("0101", 0, "\"\xff\"");
  EXPECT_TRUE(e.evaluated.empty()) << "replies are evaluated as tasks";
  e.run_tasks();
  ASSERT_EQ(e.evaluated.size(), 3u);
  EXPECT_EQ(e.evaluated[0], "window.__webview__.onReply(\"00ff\", 0, \"a\\nb\")");
  EXPECT_EQ(e.evaluated[1], "window.__webview__.onReply(\"0100\", 0)");
  EXPECT_EQ(e.evaluated[2], "window.__webview__.onReply(\"0101\", 0, \"\xEF\xBF\xBD\")");
}

// A message the engine takes over is freed exactly once: after its handler has run, or at
// once when it is dropped. The arguments the handler sees are the array's text, however
// large, and a params member that is a string still arrives decoded.
int released = 0;
void count_release(void *p) {
  released++;
  free(p);
}
char *owned_copy(const std::string &text) { return strdup(text.c_str()); }

TEST(EngineBase, ATakenMessageLivesUntilItsHandlerHasRunAndNoLonger) {
  recording_engine e;
  e.bind("msw_write_vault", record, nullptr);
  calls.clear();
  released = 0;
  std::string large = std::string(4 << 20, 'Q');
  e.on_message(owned_copy("{\"id\":\"a1\",\"method\":\"msw_write_vault\",\"params\":[\"" + large + "\"]}"),
               count_release);
  EXPECT_EQ(released, 0) << "the handler has not run yet";
  e.on_message(owned_copy("{\"id\":\"a2\",\"method\":\"msw_nothing\",\"params\":[]}"), count_release);
  e.on_message(owned_copy("not json"), count_release);
  EXPECT_EQ(released, 2) << "dropped messages are freed at once";
  e.on_message(owned_copy("{\"params\":\"[\\\"s\\\"]\",\"method\":\"msw_write_vault\",\"id\":\"a3\"}"),
               count_release);
  e.run_tasks();
  EXPECT_EQ(released, 4);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].id, "a1");
  EXPECT_EQ(calls[0].args, "[\"" + large + "\"]");
  EXPECT_EQ(calls[1].id, "a3");
  EXPECT_EQ(calls[1].args, "[\"s\"]");
}

}  // namespace
