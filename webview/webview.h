#pragma once
// The web view engine's outer interface: plain functions over an engine handle. Every
// error becomes its result code (errors.h); creation gives null instead and, when asked,
// the code and message of the failure. All run on the UI thread except reply and
// dispatch, which any thread may call.
#include <string>

#include "engine_base.h"
#include "errors.h"

namespace webview {

using engine = engine_base;
using task_fn = void (*)(engine *w, void *arg);

// With `parent_window` null the engine makes its own top-level window.
engine *create(bool debug, void *parent_window, int *error_code = nullptr, std::string *error_message = nullptr);
int destroy(engine *w);
int run(engine *w);
int terminate(engine *w);
int set_title(engine *w, const char *title);
int set_size(engine *w, int width, int height, int hint);
int navigate(engine *w, const char *url);
int eval(engine *w, const char *script);
int init(engine *w, const char *script);
int bind(engine *w, const char *name, handler_fn handler, void *user);
int reply(engine *w, const char *id, int status, const char *result);
int dispatch(engine *w, task_fn task, void *arg);
// The native handle of `kind` (native_kind), or the error that stands in its place.
result<void *> native_window(engine *w, int kind);
// The same, or null when the engine has none.
void *native_handle(engine *w, int kind);

}  // namespace webview
