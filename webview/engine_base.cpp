#include "engine_base.h"

#include <stdlib.h>
#include <string.h>

#include <memory>

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

void engine_base::listen(const std::string &name, native_handler handler, void *user) {
  listeners_[name] = binding{handler, user};
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
  dispatch([this, script = std::move(script)] { eval(script); });
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
static std::string member(const char *message, const char *key) {
  char *value = json_member(message, key);
  std::string text = value ? value : "";
  free(value);
  return text;
}

void engine_base::on_message(const std::string &message) {
  char *text = (char *)malloc(message.size() + 1);
  if (!text) return;
  memcpy(text, message.c_str(), message.size() + 1);
  on_message(text, free);
}

void engine_base::on_message(char *message, void (*release)(void *)) {
  // The message owns the arguments until the handler has run: a vault of megabytes is
  // handed on where it lies, not copied for each step on the window's thread.
  std::shared_ptr<char> text(message, release);
  std::string method = member(message, "method");
  const binding *found = nullptr;
  auto bound = bindings_.find(method);
  auto heard = listeners_.find(method);
  if (bound != bindings_.end())
    found = &bound->second;
  else if (heard != listeners_.end())
    found = &heard->second;
  if (!found) return;
  std::string id = member(message, "id");
  // The arguments are the array's raw text, cut off in place where it ends; anything else
  // (a string is decoded) is copied, as a page that keeps to the bridge never sends it.
  const char *begin = nullptr, *end = nullptr;
  bool in_place = json_member_span(message, "params", &begin, &end) && *begin != '"';
  std::string other = in_place ? std::string() : member(message, "params");
  if (in_place) message[end - message] = 0;
  binding b = *found;
  // The handler runs as its own task, never inside the browser's message event.
  dispatch([b, id, text, in_place, begin, other] { b.handler(id.c_str(), in_place ? begin : other.c_str(), b.user); });
}

}  // namespace webview
