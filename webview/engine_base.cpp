#include "engine_base.h"

#include <stdlib.h>

#include "bridge.h"

namespace webview {

bool engine_base::bind(const std::string &name, native_handler handler, void *user) {
  if (bindings_.count(name)) return false;
  bindings_[name] = binding{handler, user};
  std::string script = bind_script(bindings_);
  if (bind_script_)
    bind_script_ = replace_init_script(bind_script_, script);
  else
    bind_script_ = add_init_script(script);
  eval(bind_announcement(name));
  return true;
}

void engine_base::reply(const std::string &id, int status, const std::string &result) {
  // A reply the page cannot read would leave its promise pending forever (the caller
  // would hang, for example at start-up reading a damaged vault), so bytes that are not
  // UTF-8 reach the page as U+FFFD instead of dropping the whole reply.
  std::string text = utf8_valid(result) ? result : utf8_repair(result);
  // The script is made here, on the replying thread: for a large result (the vault read
  // by a worker) checking and copying it is the costly part, and the window's thread is
  // left only the evaluation.
  std::string script = reply_script(id, status, text);
  dispatch([this, script] { eval(script); });
}

init_script *engine_base::add_init_script(const std::string &code) {
  void *id = add_script_impl(code);
  scripts_.push_back(init_script{code, id});
  return &scripts_.back();
}

init_script *engine_base::replace_init_script(init_script *old, const std::string &code) {
  remove_all_scripts_impl();
  init_script *now = nullptr;
  for (init_script &entry : scripts_) {
    if (&entry == old) {
      entry.code = code;
      now = &entry;
    }
    entry.browser_id = add_script_impl(entry.code);
  }
  return now;
}

// The text of one member of the message, "" when it is missing or unreadable.
static std::string member(const std::string &message, const char *key) {
  char *value = json_member(message.c_str(), key);
  std::string text = value ? value : "";
  free(value);
  return text;
}

void engine_base::on_message(const std::string &message) {
  auto found = bindings_.find(member(message, "method"));
  if (found == bindings_.end()) return;
  std::string id = member(message, "id");
  std::string params = member(message, "params");
  binding b = found->second;
  // The handler runs as its own task, never inside the browser's message event.
  dispatch([b, id, params] { b.handler(id.c_str(), params.c_str(), b.user); });
}

}  // namespace webview
