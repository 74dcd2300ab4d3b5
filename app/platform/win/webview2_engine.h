#pragma once
// The web view engine on Windows: a top-level window ("webview") whose child window
// ("webview_widget") holds a WebView2 browser, and a message-only window
// ("webview_message") that runs dispatched tasks on the UI thread in posting order. The
// page posts to the native side with window.chrome.webview.postMessage; init scripts are
// added with AddScriptToExecuteOnDocumentCreated; scripts run with ExecuteScript.
#include <atomic>
#include <list>
#include <string>

#include "webview/engine_base.h"
#include "webview/engine_error.h"
#include "app/platform/win/webview2_api.h"
#include "app/platform/win/webview2_runtime.h"

namespace webview {

extern const char edge_post_function[];  // the bridge's post function for WebView2

class webview2_com_handler;

class win32_edge_engine : public engine_base {
 public:
  // Makes the windows and the browser; throws webview::exception on failure, after undoing
  // its COM initialisation (windows already made are hidden and left to the end of the
  // process; the runtime's libraries stay loaded, as they always do).
  win32_edge_engine(bool debug, browser_runtime runtime);
  ~win32_edge_engine() override;

  void run() override;
  void terminate() override;
  void set_title(const std::string &title) override;
  void set_size(int width, int height, bool minimum) override;
  void navigate(const std::string &url) override;
  void eval(const std::string &script) override;
  void *window() override { return window_; }

  HWND widget() const { return widget_; }
  HWND message_window() const { return message_window_; }
  ICoreWebView2Controller *controller() const { return controller_; }
  int dpi() const { return dpi_; }

  // The browser's profile folder: the executable's file name inside the roaming
  // application data folder.
  static std::wstring data_folder();

  // Engine windows open in this process; the last one closed ends the message loop.
  static int open_windows();

  // Opens an address a person followed out of the page in the desktop's browser.
  static void (*open_outside)(const std::wstring &uri);

 protected:
  void *add_script_impl(const std::string &code) override;
  void remove_all_scripts_impl() override;
  void dispatch_impl(std::function<void()> task) override;

 private:
  friend class webview2_com_handler;
  void create_windows();
  void embed(bool debug);
  void fit_browser();
  void resize_client(int width, int height);
  void release_browser();
  void abandon();
  // The handler's results.
  void browser_ready(ICoreWebView2Controller *controller, ICoreWebView2 *view);
  void browser_failed();
  void on_web_message(const wchar_t *message);

  static LRESULT CALLBACK main_proc(HWND, UINT, WPARAM, LPARAM);
  static LRESULT CALLBACK widget_proc(HWND, UINT, WPARAM, LPARAM);
  static LRESULT CALLBACK message_proc(HWND, UINT, WPARAM, LPARAM);

  browser_runtime runtime_;
  bool com_initialised_ = false;
  bool owns_window_ = true;
  HWND window_ = nullptr;
  HWND widget_ = nullptr;
  HWND message_window_ = nullptr;
  POINT min_size_ = {0, 0};
  POINT max_size_ = {0, 0};
  int dpi_ = 96;
  ICoreWebView2Controller *controller_ = nullptr;
  ICoreWebView2 *view_ = nullptr;
  webview2_com_handler *handler_ = nullptr;
  bool waiting_ = false;  // the browser has not answered yet
  std::list<std::wstring> script_ids_;  // what the browser called each script it holds
  std::string own_prefix_;              // the page's own address (own_address.h)
  std::atomic<int> pending_tasks_{0};
};

// The dark title bar rule: dark when the user's app mode is dark.
void apply_title_bar_theme(HWND window);

}  // namespace webview
