// The WebView2 engine on real Win32 windows, with a stand-in browser (webview2_doubles):
// creation and its retries, what the browser is asked to do, the bridge from a page
// message to the bound native function and back to a reply script, and the window.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <memory>
#include <thread>
#include <vector>

#include "app/platform/win/webview2_engine.h"
#include "app/platform/win/wide.h"
#include "tests/win/webview2_doubles.h"
#include "webview/bridge.h"
#include "webview/own_address.h"

namespace {

using webview::win32_edge_engine;

struct made {
  std::unique_ptr<win32_edge_engine> engine;
  int code = 0;
  std::string message;
};

made make(fake::browser &b, bool debug = false) {
  made m;
  try {
    m.engine.reset(new win32_edge_engine(debug, b.runtime()));
  } catch (const webview::exception &e) {
    m.code = e.code();
    m.message = e.what();
  }
  return m;
}

int visible_engine_windows() {
  int count = 0;
  EnumWindows(
      [](HWND hwnd, LPARAM counter) -> BOOL {
        wchar_t name[32];
        if (GetClassNameW(hwnd, name, 32) && lstrcmpW(name, L"webview") == 0 && IsWindowVisible(hwnd))
          ++*reinterpret_cast<int *>(counter);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&count));
  return count;
}

std::wstring W(const std::string &s) { return widen(s); }

TEST(Webview2Engine, CreationAsksTheBrowserForAWindowSizedViewWithTheBridge) {
  fake::browser b;
  made m = make(b);
  ASSERT_TRUE(m.engine) << m.code << " " << m.message;
  win32_edge_engine &e = *m.engine;
  EXPECT_EQ(b.find_calls, 1);
  EXPECT_EQ(b.environment_attempts, 1);
  EXPECT_EQ(b.controller_requests, 1);

  wchar_t appdata[MAX_PATH];
  ASSERT_TRUE(SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, appdata)));
  EXPECT_EQ(b.data_folder, std::wstring(appdata) + L"\\win_webview2_test.exe");

  HWND main = static_cast<HWND>(e.window());
  ASSERT_TRUE(main);
  wchar_t name[32];
  GetClassNameW(main, name, 32);
  EXPECT_STREQ(name, L"webview");
  EXPECT_TRUE(IsWindowVisible(main));
  EXPECT_EQ(GetParent(e.widget()), main);
  EXPECT_EQ(b.controller_parent, e.widget()) << "the browser lives in the widget window";
  GetClassNameW(e.widget(), name, 32);
  EXPECT_STREQ(name, L"webview_widget");
  GetClassNameW(e.message_window(), name, 32);
  EXPECT_STREQ(name, L"webview_message");

  EXPECT_EQ(b.dev_tools, FALSE);
  EXPECT_EQ(b.status_bar, FALSE);
  EXPECT_EQ(b.visible, TRUE);
  EXPECT_GE(b.focus_moves, 1);
  RECT client;
  GetClientRect(e.widget(), &client);
  EXPECT_EQ(b.bounds.right - b.bounds.left, client.right - client.left);
  EXPECT_EQ(b.bounds.bottom - b.bounds.top, client.bottom - client.top);

  // The bridge is the first script of every document and posts through chrome.webview.
  ASSERT_EQ(b.scripts.size(), 1u);
  EXPECT_EQ(b.scripts[0].second, W(webview::bridge_script(webview::edge_post_function)));
  EXPECT_NE(b.scripts[0].second.find(L"return window.chrome.webview.postMessage(message);"), std::wstring::npos);

  fake::browser debug_browser;
  made debug = make(debug_browser, true);
  ASSERT_TRUE(debug.engine);
  EXPECT_EQ(debug_browser.dev_tools, TRUE);
}

TEST(Webview2Engine, NoRuntimeFailsBeforeAnyWindow) {
  int before = visible_engine_windows();
  fake::browser b;
  b.installed = false;
  made m = make(b);
  EXPECT_FALSE(m.engine);
  EXPECT_EQ(m.code, -5);
  EXPECT_EQ(m.message, "WebView2 is unavailable");
  EXPECT_EQ(b.environment_attempts, 0);
  EXPECT_EQ(visible_engine_windows(), before);
}

TEST(Webview2Engine, BrowserStartIsTriedFiveTimes) {
  {
    fake::browser b;  // two failed completions, then a browser
    b.environment_results = {E_FAIL, E_OUTOFMEMORY};
    made m = make(b);
    EXPECT_TRUE(m.engine) << m.message;
    EXPECT_EQ(b.environment_attempts, 3);
  }
  {
    fake::browser b;  // calls that fail at once, every time
    b.environment_calls = {E_FAIL, E_FAIL, E_FAIL, E_FAIL, E_FAIL, E_FAIL};
    int before = visible_engine_windows();
    made m = make(b);
    EXPECT_FALSE(m.engine);
    EXPECT_EQ(m.code, -3);
    EXPECT_EQ(b.environment_attempts, 5);
    EXPECT_EQ(visible_engine_windows(), before) << "no empty window stays behind the message";
  }
  {
    fake::browser b;  // the controller keeps failing: each failure is a new attempt
    b.controller_result = E_FAIL;
    made m = make(b);
    EXPECT_FALSE(m.engine);
    EXPECT_EQ(b.environment_attempts, 5);
    EXPECT_EQ(b.controller_requests, 5);
  }
}

// Outcomes after which no answer will ever come end creation instead of waiting forever.
TEST(Webview2Engine, FinalBrowserFailuresEndTheWait) {
  for (HRESULT final_result : {E_ABORT, static_cast<HRESULT>(0x8007139F)}) {
    fake::browser b;
    b.controller_result = final_result;
    made m = make(b);
    EXPECT_FALSE(m.engine);
    EXPECT_EQ(m.code, -3);
    EXPECT_EQ(b.environment_attempts, 1) << "no new attempt after " << std::hex << final_result;
  }
  fake::browser b;
  b.environment_calls = {static_cast<HRESULT>(0x8007139F)};
  made m = make(b);
  EXPECT_FALSE(m.engine);
  EXPECT_EQ(b.environment_attempts, 1);
}

TEST(Webview2Engine, QuitWhileWaitingCancelsAndSettingsFailuresAreNamed) {
  {
    fake::browser b;
    // An environment that never answers: only the quit ends the wait.
    auto runtime = b.runtime();
    runtime.create_environment = [&b](const std::wstring &, webview::environment_handler *) -> HRESULT {
      b.environment_attempts++;
      PostQuitMessage(0);
      return S_OK;
    };
    try {
      win32_edge_engine e(false, runtime);
      ADD_FAILURE() << "created without a browser";
    } catch (const webview::exception &e) {
      EXPECT_EQ(e.code(), -4);
    }
    MSG msg;
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "the quit is not left for the message box";
  }
  {
    fake::browser b;
    b.settings_result = E_FAIL;
    made m = make(b);
    EXPECT_FALSE(m.engine);
    EXPECT_EQ(m.code, -1);
    EXPECT_EQ(m.message, "get_Settings failed");
  }
  EXPECT_STREQ(webview::exception(-1, "").what(), "Unknown exception");
}

// What the page's call and the native answer look like on the way.
struct call_record {
  std::vector<std::string> ids, args;
  std::vector<void *> users;
};
call_record calls;
win32_edge_engine *replying_engine = nullptr;

void title_handler(const char *id, const char *args, void *user) {
  calls.ids.push_back(id);
  calls.args.push_back(args);
  calls.users.push_back(user);
  if (replying_engine) replying_engine->reply(id, 0, "\"hi\"");
}
void other_handler(const char *, const char *, void *) {}

TEST(Webview2Engine, PageCallReachesTheBoundFunctionAndItsReplyRunsInThePage) {
  fake::browser b;
  made m = make(b);
  ASSERT_TRUE(m.engine);
  win32_edge_engine &e = *m.engine;
  calls = call_record();
  replying_engine = &e;

  ASSERT_TRUE(e.bind("msw_title", title_handler, nullptr));
  EXPECT_FALSE(e.bind("msw_title", other_handler, nullptr)) << "a second bind of a name changes nothing";
  ASSERT_EQ(b.scripts.size(), 2u);
  EXPECT_NE(b.scripts[1].second.find(L"var methods = [\"msw_title\"];"), std::wstring::npos);
  ASSERT_FALSE(b.executed.empty());
  EXPECT_EQ(b.executed.back(), W(webview::bind_announcement("msw_title")));

  // A later bind puts every script back in its order, the bind script with both names.
  std::wstring bridge_id = b.scripts[0].first, bind_id = b.scripts[1].first;
  ASSERT_TRUE(e.bind("msw_copy", other_handler, nullptr));
  EXPECT_EQ(b.removed, (std::vector<std::wstring>{bridge_id, bind_id}));
  ASSERT_EQ(b.scripts.size(), 2u);
  EXPECT_EQ(b.scripts[0].second, W(webview::bridge_script(webview::edge_post_function)));
  EXPECT_NE(b.scripts[1].second.find(L"var methods = [\"msw_copy\",\"msw_title\"];"), std::wstring::npos);

  // The page's own document is loaded; only it may call.
  e.navigate("http://127.0.0.1:5000/0123/index.html");
  ASSERT_TRUE(fake::pump_until([&] { return b.document == L"http://127.0.0.1:5000/0123/index.html"; }));

  const std::string id = "0123456789abcdef0123456789abcdef";
  b.page_posts(W("{\"id\":\"" + id + "\",\"method\":\"msw_title\",\"params\":[\"x \xF0\x9F\x98\x80\",true]}"));
  EXPECT_TRUE(calls.ids.empty()) << "the handler runs as a task of its own, not inside the browser's event";
  ASSERT_TRUE(fake::pump_until([&] { return !calls.ids.empty(); }));
  EXPECT_EQ(calls.ids[0], id);
  EXPECT_EQ(calls.args[0], "[\"x \xF0\x9F\x98\x80\",true]");
  EXPECT_EQ(calls.users[0], nullptr);

  std::wstring reply = L"window.__webview__.onReply(\"" + W(id) + L"\", 0, \"hi\")";
  ASSERT_TRUE(fake::pump_until([&] { return !b.executed.empty() && b.executed.back() == reply; }))
      << (b.executed.empty() ? "" : narrow(b.executed.back()));

  // A call whose text holds a lone surrogate (which a page's string may) is still a call:
  // the text is repaired, as every text this layer converts, and the call is answered.
  b.page_posts(std::wstring(L"{\"id\":\"3\",\"method\":\"msw_title\",\"params\":[\"") + wchar_t(0xD800) + L"\"]}");
  ASSERT_TRUE(fake::pump_until([&] { return calls.ids.size() == 2; }));
  EXPECT_EQ(calls.args[1], "[\"\xEF\xBF\xBD\"]");

  // Messages that are not calls of a bound name are dropped without an answer.
  ASSERT_TRUE(fake::pump_until([&] { return b.executed.back().find(L"onReply(\"3\"") != std::wstring::npos; }));
  size_t scripts_run = b.executed.size();
  b.page_posts(L"{\"id\":\"1\",\"method\":\"msw_nothing\",\"params\":[]}");
  b.page_posts_non_string(L"{\"id\":\"2\",\"method\":\"msw_title\",\"params\":[]}");
  b.page_posts_from(L"https://elsewhere.example/0123/index.html", L"{\"id\":\"4\",\"method\":\"msw_title\",\"params\":[]}");
  b.page_posts_from(L"http://127.0.0.1:5000/other/index.html", L"{\"id\":\"5\",\"method\":\"msw_title\",\"params\":[]}");
  fake::pump_until([] { return false; }, 300);
  EXPECT_EQ(calls.ids.size(), 2u);
  EXPECT_EQ(b.executed.size(), scripts_run);
  replying_engine = nullptr;
}

TEST(Webview2Engine, RepliesAndTasksFromOtherThreadsRunOnTheWindowThreadInOrder) {
  fake::browser b;
  made m = make(b);
  ASSERT_TRUE(m.engine);
  win32_edge_engine &e = *m.engine;
  DWORD ui_thread = GetCurrentThreadId();
  std::vector<int> order;
  std::vector<DWORD> threads;
  std::thread worker([&] {
    for (int i = 0; i < 50; i++)
      e.dispatch([&order, &threads, i] {
        order.push_back(i);
        threads.push_back(GetCurrentThreadId());
      });
    e.reply("feed", 1, "null");
  });
  worker.join();
  EXPECT_TRUE(order.empty()) << "nothing runs before the window's thread pumps";
  std::wstring reply = L"window.__webview__.onReply(\"feed\", 1, null)";
  ASSERT_TRUE(fake::pump_until([&] { return !b.executed.empty() && b.executed.back() == reply; }));
  ASSERT_EQ(order.size(), 50u);
  for (int i = 0; i < 50; i++) EXPECT_EQ(order[i], i);
  for (DWORD t : threads) EXPECT_EQ(t, ui_thread);

  // Tasks still queued when the engine goes run before it is gone.
  bool ran = false;
  e.dispatch([&ran] { ran = true; });
  m.engine.reset();
  EXPECT_TRUE(ran);
}

TEST(Webview2Engine, WindowTitleSizeNavigationScriptsAndPermissions) {
  fake::browser b;
  made m = make(b);
  ASSERT_TRUE(m.engine);
  win32_edge_engine &e = *m.engine;
  HWND main = static_cast<HWND>(e.window());

  e.set_title("mosswire \xC3\xA9");
  wchar_t title[64];
  GetWindowTextW(main, title, 64);
  EXPECT_STREQ(title, L"mosswire \x00E9");
  e.set_title("bad \xff");  // repaired as every text of this layer, not dropped
  GetWindowTextW(main, title, 64);
  EXPECT_STREQ(title, L"bad \xFFFD");

  e.set_size(760, 520, true);
  e.set_size(1100, 720, false);
  RECT client;
  GetClientRect(main, &client);
  EXPECT_EQ(client.right - client.left, MulDiv(1100, e.dpi(), 96));
  EXPECT_EQ(client.bottom - client.top, MulDiv(720, e.dpi(), 96));
  MINMAXINFO info = {};
  SendMessageW(main, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
  EXPECT_EQ(info.ptMinTrackSize.x, 760);
  EXPECT_EQ(info.ptMinTrackSize.y, 520);
  EXPECT_TRUE(GetWindowLongPtrW(main, GWL_STYLE) & WS_THICKFRAME);
  // The widget and the browser follow the window's client area.
  fake::pump_until([] { return false; }, 100);
  RECT widget;
  GetClientRect(e.widget(), &widget);
  EXPECT_EQ(widget.right, client.right);
  EXPECT_EQ(widget.bottom, client.bottom);
  EXPECT_EQ(b.bounds.right, client.right);
  EXPECT_EQ(b.bounds.bottom, client.bottom);

  // Moved to a screen of 144 dots per inch: the client area keeps its size in logical
  // pixels, and the size the system asks about beforehand is the same.
  // (The smallest size, which still fits the test's 1280 by 1024 screen once scaled.)
  e.set_size(400, 300, false);
  GetClientRect(main, &client);
  int width = client.right - client.left, height = client.bottom - client.top;
  SIZE asked = {0, 0};
  EXPECT_TRUE(SendMessageW(main, 0x02E4 /* WM_GETDPISCALEDSIZE */, 144, reinterpret_cast<LPARAM>(&asked)));
  RECT suggested = {0, 0, 100, 100};
  SendMessageW(main, 0x02E0 /* WM_DPICHANGED */, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
  EXPECT_EQ(e.dpi(), 144);
  GetClientRect(main, &client);
  // Wine draws the frame at the system's DPI whatever the window's, so the client area
  // comes out a few pixels off the scaled size there; on Windows the frame scales too.
  EXPECT_NEAR(client.right - client.left, MulDiv(width, 144, 96), 16);
  EXPECT_NEAR(client.bottom - client.top, MulDiv(height, 144, 96), 16);
  RECT outer;
  GetWindowRect(main, &outer);
  EXPECT_EQ(asked.cx, outer.right - outer.left);
  EXPECT_EQ(asked.cy, outer.bottom - outer.top);

  e.navigate("");
  e.navigate("http://127.0.0.1:5000/0123/index.html");
  EXPECT_EQ(b.navigations, (std::vector<std::wstring>{L"about:blank", L"http://127.0.0.1:5000/0123/index.html"}));

  size_t run_before = b.executed.size();
  e.eval("");
  EXPECT_EQ(b.executed.size(), run_before) << "nothing runs for an empty script";
  e.eval("bad \xC3");
  EXPECT_EQ(b.executed.back(), L"bad \xFFFD") << "a broken one runs repaired, not dropped";
  e.eval("MswFocus(true)");
  EXPECT_EQ(b.executed.back(), L"MswFocus(true)");

  EXPECT_EQ(b.page_asks(webview::COREWEBVIEW2_PERMISSION_KIND_CLIPBOARD_READ),
            webview::COREWEBVIEW2_PERMISSION_STATE_ALLOW);
  EXPECT_EQ(b.page_asks(webview::COREWEBVIEW2_PERMISSION_KIND_CAMERA), webview::COREWEBVIEW2_PERMISSION_STATE_DEFAULT);
  EXPECT_EQ(b.page_asks(webview::COREWEBVIEW2_PERMISSION_KIND_GEOLOCATION),
            webview::COREWEBVIEW2_PERMISSION_STATE_DEFAULT);
}

std::vector<std::wstring> opened_outside;
void record_outside(const std::wstring &uri) { opened_outside.push_back(uri); }

// window.open and links with a target never get a window of the runtime's own; a web link
// a person clicked opens in the desktop's browser, the page's own address nowhere.
TEST(Webview2Engine, NewWindowRequestsOpenNoWindow) {
  fake::browser b;
  made m = make(b);
  ASSERT_TRUE(m.engine);
  auto saved = win32_edge_engine::open_outside;
  win32_edge_engine::open_outside = record_outside;
  opened_outside.clear();
  m.engine->navigate("http://127.0.0.1:5000/0123/index.html");
  ASSERT_TRUE(fake::pump_until([&] { return b.document == L"http://127.0.0.1:5000/0123/index.html"; }));

  EXPECT_FALSE(b.page_opens_window(L"https://example.org/news", false)) << "a script's window.open";
  EXPECT_FALSE(b.page_opens_window(L"http://127.0.0.1:5000/0123/index.html", true));
  EXPECT_FALSE(b.page_opens_window(L"file:///C:/Windows/win.ini", true));
  EXPECT_FALSE(b.page_opens_window(L"", true));
  EXPECT_TRUE(opened_outside.empty());
  EXPECT_FALSE(b.page_opens_window(L"https://example.org/news", true));
  EXPECT_EQ(opened_outside, std::vector<std::wstring>{L"https://example.org/news"});
  EXPECT_TRUE(b.popups.empty());
  EXPECT_EQ(b.document, L"http://127.0.0.1:5000/0123/index.html");
  win32_edge_engine::open_outside = saved;
}

// The window stays on the page's own address; a person's web link opens outside.
TEST(Webview2Engine, NavigationStaysOnThePagesOwnAddress) {
  fake::browser b;
  made m = make(b);
  ASSERT_TRUE(m.engine);
  win32_edge_engine &e = *m.engine;
  auto saved = win32_edge_engine::open_outside;
  win32_edge_engine::open_outside = record_outside;
  opened_outside.clear();

  e.navigate("http://127.0.0.1:5000/0123/index.html");
  ASSERT_TRUE(fake::pump_until([&] { return b.document == L"http://127.0.0.1:5000/0123/index.html"; }));
  EXPECT_FALSE(b.page_navigates(L"http://127.0.0.1:5000/0123/index.html#top", false));
  EXPECT_FALSE(b.page_navigates(L"http://127.0.0.1:5000/0123/index.html", true)) << "a reload";
  EXPECT_TRUE(b.page_navigates(L"http://127.0.0.1:5000/other/index.html", false));
  EXPECT_TRUE(b.page_navigates(L"http://127.0.0.1:5001/0123/index.html", false));
  EXPECT_TRUE(b.page_navigates(L"https://example.org/news", false)) << "a script's navigation";
  EXPECT_TRUE(opened_outside.empty());
  EXPECT_TRUE(b.page_navigates(L"https://example.org/news", true));
  EXPECT_TRUE(b.page_navigates(L"file:///C:/Windows/win.ini", true));
  EXPECT_TRUE(b.page_navigates(L"javascript:alert(1)", true));
  EXPECT_EQ(opened_outside, std::vector<std::wstring>{L"https://example.org/news"});
  EXPECT_EQ(b.document, L"http://127.0.0.1:5000/0123/index.html");

  e.navigate("");
  ASSERT_TRUE(fake::pump_until([&] { return b.document == L"about:blank"; }));
  EXPECT_TRUE(b.page_navigates(L"about:blank#x", false)) << "an address without a folder is its own only";
  win32_edge_engine::open_outside = saved;

  EXPECT_EQ(own_address_prefix("http://127.0.0.1:5000/0123/index.html"), "http://127.0.0.1:5000/0123/");
  EXPECT_EQ(own_address_prefix("about:blank"), "about:blank");
  EXPECT_FALSE(is_own_address("", ""));
  EXPECT_FALSE(is_own_address("http://127.0.0.1:5000/0123/", "http://127.0.0.1:5000/0123"));
}

// The message loop ends when the last engine window closes, not the first.
TEST(Webview2Engine, ClosingTheLastWindowEndsTheLoop) {
  fake::browser b1, b2;
  made first = make(b1), second = make(b2);
  ASSERT_TRUE(first.engine && second.engine);
  HWND w1 = static_cast<HWND>(first.engine->window()), w2 = static_cast<HWND>(second.engine->window());
  int open = win32_edge_engine::open_windows();
  PostMessageW(w1, WM_CLOSE, 0, 0);
  // The second closes only after the first is gone: a loop that ended at the first close
  // would return with the second still open.
  second.engine->dispatch([&] {
    fake::later([&] { PostMessageW(w2, WM_CLOSE, 0, 0); });
  });
  first.engine->run();
  EXPECT_FALSE(IsWindow(w1));
  EXPECT_FALSE(IsWindow(w2));
  EXPECT_EQ(win32_edge_engine::open_windows(), open - 2);
  EXPECT_EQ(first.engine->window(), nullptr);

  // terminate() ends run() the same way the update's install does.
  fake::browser b3;
  made third = make(b3);
  ASSERT_TRUE(third.engine);
  third.engine->dispatch([&] { third.engine->terminate(); });
  third.engine->run();
  EXPECT_TRUE(IsWindow(static_cast<HWND>(third.engine->window())));
}

}  // namespace
