// The services' way into the page: replies, dispatched tasks, evaluations and the title
// all go through the one web view.
#include "app/host/desktop_host.h"
#include "app/host/host.h"

void host_reply(const char *id, const char *result) { webview::reply(host_view, id, 0, result); }

void host_dispatch(void (*task)(void *arg), void *arg) {
  webview::engine *view = host_view;
  if (!view || !task) return;
  view->dispatch([task, arg] { task(arg); });
}

void host_eval(const char *script) { webview::eval(host_view, script); }

void host_terminate(void) { webview::terminate(host_view); }

void host_set_title(const char *title) { webview::set_title(host_view, title); }
