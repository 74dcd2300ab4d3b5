#pragma once
// The web view engine on Linux: a GTK 3 top-level window holding a WebKitGTK 4.1 view.
// The page posts to the native side through window.webkit.messageHandlers; init
// scripts are user scripts injected at document start in the top frame; dispatched
// tasks run as idle sources of the default GLib main context, in posting order.
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <atomic>

#include "webview/engine_base.h"

namespace webview {

// Name of the message channel the page posts to.
extern const char gtk_message_channel[];    // "__webview__"
extern const char gtk_post_function[];      // the bridge's post function for WebKit

class gtk_webkit_engine : public engine_base {
 public:
  // Throws std::runtime_error when GTK or WebKitGTK can't start.
  gtk_webkit_engine();
  ~gtk_webkit_engine() override;

  void run() override;
  void terminate() override;
  void set_title(const std::string &title) override;
  void set_size(int width, int height, bool minimum) override;
  void navigate(const std::string &url) override;
  void eval(const std::string &script) override;
  void *window() override { return window_; }

  // The browser data folder: $XDG_DATA_HOME/<executable name>.
  static std::string data_folder();

 protected:
  void *add_script_impl(const std::string &code) override;
  void remove_all_scripts_impl() override;
  void dispatch_impl(std::function<void()> task) override;

 private:
  static void on_script_message(WebKitUserContentManager *, WebKitJavascriptResult *result, gpointer self);
  static gboolean on_permission(WebKitWebView *, WebKitPermissionRequest *request, gpointer);
  static gboolean on_decide_policy(WebKitWebView *, WebKitPolicyDecision *decision, WebKitPolicyDecisionType type,
                                   gpointer self);
  static void on_window_destroy(GtkWidget *, gpointer self);
  static void on_web_process_gone(WebKitWebView *view, WebKitWebProcessTerminationReason reason, gpointer);
  static gboolean run_task(gpointer data);

  GtkWidget *window_ = nullptr;
  WebKitWebView *view_ = nullptr;
  WebKitUserContentManager *content_ = nullptr;
  std::string own_prefix_;  // UI thread only

  std::atomic<int> pending_tasks_{0};
  std::atomic<bool> quit_requested_{false};
};

}  // namespace webview
