#pragma once
// The program's start-up routine: single instance, asset server, browser window,
// bindings, page, message loop and shutdown.
#include "app/common/native_call.h"

// What main.cpp hands the host: the native functions to bind into the page, a task run
// once this copy is known to be the only one, while the browser engine starts and before
// the page is loaded, and one run when the message loop has ended, while the window still
// takes replies.
struct host_wiring {
  const native_binding *calls;
  int call_count;
  void (*starting)(void);  // may be null
  void (*stopping)(void);  // may be null
};

// Answers the exit code: 0 after a normal run and when another copy runs, 1 when start-up
// failed (after one message).
int msw_start(int argc, char **argv, const host_wiring &wiring);

// The messages start-up may end with (and the engine's webview::missing_engine_text).
extern const char start_failed_text[];
extern const char no_display_text[];
