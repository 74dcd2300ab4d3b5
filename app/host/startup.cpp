#include "app/host/startup.h"

#include <stdio.h>

#include "app/host/asset_server.h"
#include "app/host/command_line.h"
#include "app/host/desktop_host.h"
#include "app/host/path_token.h"
#include "app/platform/display.h"
#include "app/platform/instance.h"
#include "app/platform/process.h"

const char start_failed_text[] = "mosswire couldn't start.";
const char no_display_text[] =
    "mosswire needs a graphical desktop session, and no display was found. Open mosswire from your desktop.";

namespace {

// Written before the accept thread starts, read-only afterwards.
asset_site site;

int fail(const char *text) {
  display_error(text);
  return 1;
}

}  // namespace

int msw_start(int argc, char **argv, const host_wiring &wiring) {
  // A peer that goes away mid-answer must end one send, not the process.
  process_prepare();

  if (instance_check(has_after_update(argc, argv))) return 0;

  if (!display_open(&argc, &argv)) {
    fprintf(stderr, "%s\n", no_display_text);
    return 1;
  }

  // The engine first, then the page is asked for as soon as the asset server answers and
  // the bindings are in place: the engine's web and network processes take longest to
  // start, and the rest of the host (window, tray, the services' own start) is set up
  // while they do.
  webview::engine *view = webview::create();
  if (!view) return fail(webview::missing_engine_text);
  host_view = view;

  // The random source is checked: a predictable token would let other programs on this
  // machine reach the page.
  if (make_path_token(site.token) != 0) return fail(start_failed_text);
  uint16_t port = 0;
  site.listen_fd = asset_listen(&port);
  if (site.listen_fd < 0) return fail(start_failed_text);
  site.rows = msw_assets;
  site.count = msw_asset_count;
  if (asset_start_thread(&site) != 0) return fail(start_failed_text);

  // Every engine must have the bindings' scripts before the first document is made.
  for (int i = 0; i < wiring.call_count; i++) view->bind(wiring.calls[i].name, wiring.calls[i].handler, nullptr);
  char url[512];
  snprintf(url, sizeof url, "http://127.0.0.1:%d/%s/index.html", port, site.token);
  view->navigate(url);

  view->set_title("mosswire");
  view->set_size(760, 520, true);
  view->set_size(1100, 720, false);
  view->dispatch([view] { window_setup(view); });

  if (wiring.starting) wiring.starting();

  // A session that logs out (or a terminal's Ctrl+C) ends the program the way the tray's
  // Quit does, so the black-out key and the tray icon are taken down in order.
  display_on_terminate(host_quit);

  view->run();

  // Workers still answering calls (the vault's last save) finish before the window goes.
  if (wiring.stopping) wiring.stopping();
  host_shutdown_desktop();
  host_release_view();
  delete view;
  return 0;
}
