// The services' way into the page: replies, dispatched tasks, evaluations and the title
// all go through the one web view, and do nothing while there is none.
#include "app/host/desktop_host.h"
#include "app/host/host.h"

void host_reply(const char *id, const char *result) {
  std::lock_guard<std::mutex> hold(host_view_lock);
  if (webview::engine *view = host_view) view->reply(id, 0, result);
}

void host_dispatch(void (*task)(void *arg), void *arg) {
  std::lock_guard<std::mutex> hold(host_view_lock);
  webview::engine *view = host_view;
  if (!view || !task) return;
  view->dispatch([task, arg] { task(arg); });
}

void host_eval(const char *script) {
  if (webview::engine *view = host_view) view->eval(script);
}

void host_terminate(void) {
  if (webview::engine *view = host_view) view->terminate();
}

void host_set_title(const char *title) {
  if (webview::engine *view = host_view) view->set_title(title);
}
