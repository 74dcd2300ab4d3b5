#pragma once
// A stand-in WebView2: environment, controller, view and settings objects that record
// what the engine asked of them and answer the way the runtime does: environment,
// controller and script ids arrive later (posted to this thread's message queue), page
// messages arrive through the handler the engine registered, scripts are recorded as
// run. One fake_browser stands for one runtime; hand its runtime() to the engine.
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/platform/win/webview2_runtime.h"

namespace fake {

using namespace webview;

// Runs fn later on this thread, when it pumps messages.
void later(std::function<void()> fn);

// Pumps this thread's messages until done() or the time is up; answers done().
bool pump_until(const std::function<bool()> &done, int timeout_ms = 5000);

class environment;
class controller;
class view;
class settings;

struct browser {
  browser();
  ~browser();
  browser(const browser &) = delete;
  browser &operator=(const browser &) = delete;

  // What the runtime answers.
  bool installed = true;
  std::vector<HRESULT> environment_calls;    // the Nth create call's own result; S_OK past the end
  std::vector<HRESULT> environment_results;  // the Nth environment completion; S_OK past the end
  HRESULT controller_result = S_OK;          // the controller completion
  HRESULT settings_result = S_OK;            // get_Settings

  // What the engine asked for.
  int find_calls = 0;
  int environment_attempts = 0;
  int controller_requests = 0;
  std::wstring data_folder;
  HWND controller_parent = nullptr;
  int dev_tools = -1, status_bar = -1, visible = -1;
  RECT bounds = {-1, -1, -1, -1};
  int focus_moves = 0;
  std::vector<std::wstring> navigations;                        // asked to load
  std::wstring document = L"about:blank";                       // what the view shows now
  std::vector<std::wstring> executed;                           // scripts run in the page
  std::vector<std::pair<std::wstring, std::wstring>> scripts;   // id and text the browser holds now, in order
  std::vector<std::wstring> removed;                            // ids removed
  ICoreWebView2WebMessageReceivedEventHandler *message_handler = nullptr;
  ICoreWebView2PermissionRequestedEventHandler *permission_handler = nullptr;
  ICoreWebView2NavigationStartingEventHandler *navigation_handler = nullptr;
  ICoreWebView2NewWindowRequestedEventHandler *new_window_handler = nullptr;
  std::vector<std::wstring> popups;  // windows the runtime opened itself, unasked by the engine

  browser_runtime runtime();

  // Runs fn later on this thread, as the runtime's completions arrive; dropped when this
  // browser is gone by then (a test that ended before its completions came).
  void soon(std::function<void()> fn);

  // The page calls window.chrome.webview.postMessage with a string, or with something
  // else (posted as JSON only).
  void page_posts(const std::wstring &text);
  void page_posts_non_string(const std::wstring &json);
  // The same from a document at another address.
  void page_posts_from(const std::wstring &source, const std::wstring &text);
  // The page goes to uri (a link, a script, or the engine's own Navigate, which arrives
  // later): the engine may cancel it; answers whether it did. The view shows uri after.
  bool page_navigates(const std::wstring &uri, bool user);
  // window.open(uri) or a link with a target, clicked by a person or not: answers whether
  // the runtime opened a window of its own (the engine did not handle the request).
  bool page_opens_window(const std::wstring &uri, bool user);
  // A permission request from the page; answers the state the engine left.
  COREWEBVIEW2_PERMISSION_STATE page_asks(COREWEBVIEW2_PERMISSION_KIND kind);

  // The script texts the browser holds, in order.
  std::vector<std::wstring> script_texts() const;

  std::shared_ptr<int> life = std::make_shared<int>(0);
  environment *env;
  controller *ctrl;
  view *web;
  settings *prefs;
};

}  // namespace fake
