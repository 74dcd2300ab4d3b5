#pragma once
// The platform-independent half of the web view engine: the binding registry, the list
// of init scripts and the bridge's native side (message handler, bind, reply). A
// platform engine (gtk_webkit_engine) supplies the browser operations below.
#include <functional>
#include <list>
#include <map>
#include <string>

namespace webview {

using handler_fn = void (*)(const char *id, const char *args, void *user);

struct binding {
  handler_fn handler;
  void *user;
};

struct init_script {
  std::string code;
  void *browser_id;  // what the browser handed back when the script was added
};

enum size_hint { WEBVIEW_HINT_NONE = 0, WEBVIEW_HINT_MIN = 1, WEBVIEW_HINT_MAX = 2, WEBVIEW_HINT_FIXED = 3 };

enum native_kind {
  WEBVIEW_NATIVE_WINDOW = 0,      // the top-level window
  WEBVIEW_NATIVE_WIDGET = 1,      // the widget holding the browser
  WEBVIEW_NATIVE_CONTROLLER = 2,  // the browser itself
};

class engine_base {
 public:
  virtual ~engine_base() = default;

  // UI thread. 0, or 1 when the name is already bound (nothing changes then).
  int bind(const std::string &name, handler_fn handler, void *user);
  // Any thread: the reply reaches the page later, on the UI thread.
  void reply(const std::string &id, int status, const std::string &result);
  // Any thread: runs the task later on the UI thread, in posting order.
  void dispatch(std::function<void()> task) { dispatch_impl(std::move(task)); }

  init_script *add_init_script(const std::string &code);
  init_script *replace_init_script(init_script *old, const std::string &code);
  void remove_all_init_scripts() { remove_all_scripts_impl(); }

  // One message posted by the page (UTF-8 text).
  void on_message(const std::string &message);

  virtual void run() = 0;
  virtual void terminate() = 0;
  virtual void set_title(const std::string &title) = 0;
  virtual void set_size(int width, int height, int hint) = 0;
  virtual void navigate(const std::string &url) = 0;
  virtual void eval(const std::string &script) = 0;
  virtual void *native_window(int kind) = 0;  // throws exception(-3) when absent

  const std::map<std::string, binding> &bindings() const { return bindings_; }
  const std::list<init_script> &init_scripts() const { return scripts_; }

 protected:
  virtual void *add_script_impl(const std::string &code) = 0;
  virtual void remove_all_scripts_impl() = 0;
  virtual void dispatch_impl(std::function<void()> task) = 0;

 private:
  std::map<std::string, binding> bindings_;
  std::list<init_script> scripts_;
  init_script *bind_script_ = nullptr;
};

}  // namespace webview
