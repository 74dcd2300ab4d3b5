#include "webview.h"

#include "gtk_webkit_engine.h"

namespace webview {


namespace {

// Runs one operation and turns what it throws into its code.
template <typename F>
int guarded(engine *w, F &&op) {
  if (!w) return WEBVIEW_ERROR_INVALID_ARGUMENT;
  try {
    op();
    return WEBVIEW_ERROR_OK;
  } catch (const exception &e) {
    return e.code();
  } catch (...) {
    return WEBVIEW_ERROR_UNSPECIFIED;
  }
}

}  // namespace

engine *create(bool debug, void *parent_window, int *error_code, std::string *error_message) {
  try {
    engine *w = new gtk_webkit_engine(debug, parent_window);
    if (error_code) *error_code = WEBVIEW_ERROR_OK;
    return w;
  } catch (const exception &e) {
    if (error_code) *error_code = e.code();
    if (error_message) *error_message = e.what();
  } catch (const std::exception &e) {
    if (error_code) *error_code = WEBVIEW_ERROR_UNSPECIFIED;
    if (error_message) *error_message = e.what();
  }
  return nullptr;
}

int destroy(engine *w) {
  return guarded(w, [&] { delete w; });
}

int run(engine *w) {
  return guarded(w, [&] { w->run(); });
}

int terminate(engine *w) {
  return guarded(w, [&] { w->terminate(); });
}

int set_title(engine *w, const char *title) {
  if (!title) return WEBVIEW_ERROR_INVALID_ARGUMENT;
  return guarded(w, [&] { w->set_title(title); });
}

int set_size(engine *w, int width, int height, int hint) {
  if (hint < WEBVIEW_HINT_NONE || hint > WEBVIEW_HINT_FIXED) return WEBVIEW_ERROR_INVALID_ARGUMENT;
  return guarded(w, [&] { w->set_size(width, height, hint); });
}

int navigate(engine *w, const char *url) {
  if (!url) return WEBVIEW_ERROR_INVALID_ARGUMENT;
  return guarded(w, [&] { w->navigate(url); });
}

int eval(engine *w, const char *script) {
  if (!script) return WEBVIEW_ERROR_INVALID_ARGUMENT;
  return guarded(w, [&] { w->eval(script); });
}

int init(engine *w, const char *script) {
  if (!script) return WEBVIEW_ERROR_INVALID_ARGUMENT;
  return guarded(w, [&] { w->add_init_script(script); });
}

int bind(engine *w, const char *name, handler_fn handler, void *user) {
  if (!w || !name || !handler) return WEBVIEW_ERROR_INVALID_ARGUMENT;
  int code = WEBVIEW_ERROR_OK;
  int failed = guarded(w, [&] { code = w->bind(name, handler, user); });
  return failed ? failed : code;
}

int reply(engine *w, const char *id, int status, const char *result) {
  if (!id || !result) return WEBVIEW_ERROR_INVALID_ARGUMENT;
  return guarded(w, [&] { w->reply(id, status, result); });
}

int dispatch(engine *w, task_fn task, void *arg) {
  if (!task) return WEBVIEW_ERROR_INVALID_ARGUMENT;
  return guarded(w, [&] { w->dispatch([w, task, arg] { task(w, arg); }); });
}

result<void *> native_window(engine *w, int kind) {
  if (!w) return exception(WEBVIEW_ERROR_INVALID_ARGUMENT, null_instance_message);
  try {
    return w->native_window(kind);
  } catch (const exception &e) {
    return e;
  }
}

void *native_handle(engine *w, int kind) {
  result<void *> r = native_window(w, kind);
  return r.ok() ? r.value() : nullptr;
}

}  // namespace webview
