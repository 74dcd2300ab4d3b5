#pragma once
// A recording stand-in for the host, so every binding can be driven through its handler
// exactly as the bridge calls it.
#include <string>
#include <vector>

#include "app/services/bindings.h"

struct host_record {
  std::vector<std::pair<std::string, std::string>> replies;  // call id, result text
  std::vector<std::string> titles;
  std::vector<std::string> blackout_names;  // "" for a removal
  void (*blackout_action)(void) = nullptr;
  bool blackout_accepts = true;  // answer of host_set_blackout_key for a name
  bool blackout_defers = false;  // hold the answer until host_answer_blackout, as a slow desktop does
  bool tray_present = true;
  int show_calls = 0;
  int terminate_calls = 0;
  int panic_calls = 0;
  void *window = nullptr;
};

extern host_record host;

// Gives the black-out key answer held back while blackout_defers was set.
void host_answer_blackout(bool registered);

// Forgets everything recorded (keeps the window).
void host_reset(void);

// Runs the tasks dispatched so far, in order; answers how many ran.
int host_run_dispatched(void);

// Waits up to timeout_ms for a dispatched task, running any that arrive. True when at
// least one ran.
bool host_wait_dispatched(int timeout_ms);

// Calls the binding named name with args and a fresh call id; the reply it gave before
// returning, or "<no reply>" / "<2 replies>" so a test sees what went wrong.
std::string call_binding(const char *name, const char *args);

// Like call_binding for a binding that may answer later from another thread: waits (up to
// 30 s) for the reply to this call.
std::string call_binding_answered(const char *name, const char *args);

// Calls the binding without waiting; answers the call id ("" when there is no such binding).
std::string call_binding_async(const char *name, const char *args);

// The reply to call id once it came (up to 30 s), "<no reply>" or "<2 replies>".
std::string wait_reply(const std::string &id);
std::string wait_reply_for(const std::string &id, int timeout_ms);

// The handler for a binding name (null when there is none).
msw_handler binding_handler(const char *name);
