#include "tests/services/host_double.h"

#include <string.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "app/services/host_link.h"

host_record host;

static std::mutex dispatch_lock;
static std::condition_variable dispatch_signal;
static std::deque<std::pair<void (*)(void *), void *>> dispatched;
static std::mutex reply_lock;
static std::condition_variable reply_signal;

void host_reset(void) {
  void *window = host.window;
  {
    std::lock_guard<std::mutex> hold(reply_lock);
    host = host_record();
  }
  host.window = window;
}

static void host_reply(const char *id, const char *result) {
  std::lock_guard<std::mutex> hold(reply_lock);
  host.replies.emplace_back(id, result);
  reply_signal.notify_all();
}

static void host_dispatch(void (*task)(void *), void *arg) {
  std::lock_guard<std::mutex> hold(dispatch_lock);
  dispatched.emplace_back(task, arg);
  dispatch_signal.notify_all();
}

int host_run_dispatched(void) {
  int ran = 0;
  for (;;) {
    std::pair<void (*)(void *), void *> task;
    {
      std::lock_guard<std::mutex> hold(dispatch_lock);
      if (dispatched.empty()) return ran;
      task = dispatched.front();
      dispatched.pop_front();
    }
    task.first(task.second);
    ran++;
  }
}

bool host_wait_dispatched(int timeout_ms) {
  {
    std::unique_lock<std::mutex> hold(dispatch_lock);
    dispatch_signal.wait_for(hold, std::chrono::milliseconds(timeout_ms),
                             [] { return !dispatched.empty(); });
  }
  return host_run_dispatched() > 0;
}

static void host_terminate(void) { host.terminate_calls++; }
static void *host_main_window(void) { return host.window; }
static void host_set_title(const char *title) { host.titles.push_back(title); }
static void host_show_window(void) { host.show_calls++; }
static bool host_add_tray_icon(void) { return host.tray_present; }
static void host_raise_panic(void) { host.panic_calls++; }

// The answer held back for a deferred registration, like the real host's wait for the
// desktop: a new setting gives it up with false first.
static std::pair<void (*)(bool, void *), void *> held_blackout_answer;

void host_answer_blackout(bool registered) {
  auto held = held_blackout_answer;
  held_blackout_answer = {nullptr, nullptr};
  if (held.first) held.first(registered, held.second);
}

static void host_set_blackout_key(const char *name, void (*action)(void), void (*answered)(bool, void *),
                                  void *data) {
  host_answer_blackout(false);
  host.blackout_names.push_back(name ? name : "");
  host.blackout_action = action;
  bool ok = name && name[0] && host.window && host.blackout_accepts;
  if (ok && host.blackout_defers)
    held_blackout_answer = {answered, data};
  else if (answered)
    answered(ok, data);
}

// Handed to the services before main runs, so every test program talks to this double.
[[maybe_unused]] static const bool attached = (services_attach_host(service_host{
                                  host_reply, host_dispatch, host_terminate, host_main_window,
                                  host_set_title, host_show_window, host_add_tray_icon,
                                  host_set_blackout_key, host_raise_panic}),
                              true);

msw_handler binding_handler(const char *name) {
  for (int i = 0; i < msw_binding_count; i++)
    if (strcmp(msw_bindings[i].name, name) == 0) return msw_bindings[i].handler;
  return nullptr;
}

std::string call_binding(const char *name, const char *args) {
  static int counter = 0;
  char id[40];
  snprintf(id, sizeof id, "%032x", ++counter);
  msw_handler handler = binding_handler(name);
  if (!handler) return "<no such binding>";
  size_t before;
  {
    std::lock_guard<std::mutex> hold(reply_lock);
    before = host.replies.size();
  }
  handler(id, args, nullptr);
  std::lock_guard<std::mutex> hold(reply_lock);
  size_t count = host.replies.size() - before;
  if (count == 0) return "<no reply>";
  if (count > 1) return "<" + std::to_string(count) + " replies>";
  if (host.replies.back().first != id) return "<reply to another id>";
  return host.replies.back().second;
}

std::string call_binding_answered(const char *name, const char *args) {
  std::string id = call_binding_async(name, args);
  if (id.empty()) return "<no such binding>";
  return wait_reply(id);
}

std::string call_binding_async(const char *name, const char *args) {
  static int counter = 0;
  char id[40];
  snprintf(id, sizeof id, "a%031x", ++counter);
  msw_handler handler = binding_handler(name);
  if (!handler) return "";
  handler(id, args, nullptr);
  return id;
}

std::string wait_reply(const std::string &id) { return wait_reply_for(id, 30000); }

std::string wait_reply_for(const std::string &id, int timeout_ms) {
  std::unique_lock<std::mutex> hold(reply_lock);
  std::string found = "<no reply>";
  int count = 0;
  auto answered = [&] {
    count = 0;
    for (auto &r : host.replies)
      if (r.first == id) {
        count++;
        found = r.second;
      }
    return count > 0;
  };
  reply_signal.wait_for(hold, std::chrono::milliseconds(timeout_ms), answered);
  if (count > 1) return "<" + std::to_string(count) + " replies>";
  return found;
}
