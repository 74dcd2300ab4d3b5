#pragma once
// The platform-independent half of the web view engine: the binding registry, the list
// of init scripts and the bridge's native side (message handler, bind, reply). A
// platform engine (app/platform/linux/gtk_webkit_engine on Linux, app/platform/win/webview2_engine on
// Windows) supplies the browser operations below.
#include <functional>
#include <list>
#include <map>
#include <string>

#include "native_call.h"

namespace webview {

struct binding {
  native_handler handler;
  void *user;
};

struct init_script {
  std::string code;
  void *browser_id;  // what the browser handed back when the script was added
};

class engine_base {
 public:
  virtual ~engine_base() = default;

  // UI thread. False when the name is already bound (nothing changes then).
  bool bind(const std::string &name, native_handler handler, void *user);
  // UI thread. A message the page posts under `name` that is no native function (the
  // page's answer to an event the host waits on): it runs `handler` as its own task, and
  // the page gets no global of that name and no reply.
  void listen(const std::string &name, native_handler handler, void *user);
  // Any thread: the reply reaches the page later, on the UI thread (reply_script).
  void reply(const std::string &id, int status, const std::string &result);
  // Any thread: runs the task later on the UI thread, in posting order.
  void dispatch(std::function<void()> task) { dispatch_impl(std::move(task)); }

  init_script *add_init_script(const std::string &code);

  // One message posted by the page (UTF-8 text): {"id":…,"method":…,"params":[…]}.
  void on_message(const std::string &message);
  // The same for a NUL-terminated message the engine takes over; `release` frees it once
  // the handler has run or the message is dropped.
  void on_message(char *message, void (*release)(void *));

  virtual void run() = 0;
  virtual void terminate() = 0;
  virtual void set_title(const std::string &title) = 0;
  // The window's size in logical pixels; with `minimum` the smallest size the user may
  // give it instead.
  virtual void set_size(int width, int height, bool minimum) = 0;
  virtual void navigate(const std::string &url) = 0;
  virtual void eval(const std::string &script) = 0;
  // The top-level window's platform handle, or null once it is gone.
  virtual void *window() = 0;

  const std::map<std::string, binding> &bindings() const { return bindings_; }
  const std::list<init_script> &init_scripts() const { return scripts_; }

 protected:
  virtual void *add_script_impl(const std::string &code) = 0;
  virtual void remove_all_scripts_impl() = 0;
  virtual void dispatch_impl(std::function<void()> task) = 0;

 private:
  init_script *replace_init_script(init_script *old, const std::string &code);

  std::map<std::string, binding> bindings_;
  std::map<std::string, binding> listeners_;
  std::list<init_script> scripts_;
  init_script *bind_script_ = nullptr;
};

}  // namespace webview
