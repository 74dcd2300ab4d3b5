#include "desktop_host.h"

#include "app/host/host.h"
#include "app/host/key_names.h"
#include "app/host/page_events.h"
#include "app/platform/hotkey.h"
#include "app/platform/instance.h"
#include "app/platform/tray.h"
#include "app/platform/window.h"

std::atomic<webview::engine *> host_view{nullptr};

namespace {

void *main_window = nullptr;
void (*focus_action)(bool) = nullptr;
void (*away_action)(void) = nullptr;
void (*blackout_action)(void) = nullptr;
bool blackout_registered = false;
bool quitting = false;

void raise_focus(bool gained) { host_eval(page_event_script(event_focus, gained ? "true" : "false").c_str()); }

void raise_away(void) { host_eval(page_event_script(event_away, nullptr).c_str()); }

void set_focus_action(void (*action)(bool)) { focus_action = action; }

void set_away_action(void (*action)(void)) {
  away_action = action;
  if (action && main_window) host_add_tray_icon();
}

bool close_hides(void) { return away_action && !quitting; }

void after_hide(void) {
  if (away_action) away_action();
  if (focus_action) focus_action(false);
}

void on_focus(bool gained) {
  if (focus_action) focus_action(gained);
}

void on_show_request(const char *startup_id) {
  if (main_window) window_present(main_window, startup_id);
}

void on_blackout_key(void) {
  if (blackout_action) blackout_action();
}

const tray_actions tray_menu = {host_show_window, host_quit};

}  // namespace

void window_setup_task(webview::engine *view, void *) {
  main_window = webview::native_handle(view, webview::WEBVIEW_NATIVE_WINDOW);
  if (!main_window) return;
  instance_watch_show(on_show_request);
  window_attach(main_window, window_events{close_hides, after_hide, on_focus});
  set_away_action(raise_away);
  set_focus_action(raise_focus);
}

void host_quit(void) {
  quitting = true;
  if (main_window)
    window_destroy(main_window);
  else
    host_terminate();
}

void host_shutdown_desktop(void) {
  focus_action = nullptr;
  away_action = nullptr;
  host_set_blackout_key(nullptr, nullptr);
  tray_remove();
  main_window = nullptr;
}

void *host_main_window(void) { return main_window; }

void host_show_window(void) {
  if (main_window) window_present(main_window, nullptr);
}

bool host_add_tray_icon(void) { return tray_add(tray_menu); }

bool host_set_blackout_key(const char *name, void (*action)(void)) {
  if (blackout_registered) {
    hotkey_unregister();
    blackout_registered = false;
  }
  blackout_action = action;
  if (!name || !*name || !main_window) return false;
  int code = blackout_key_code(name);
  if (!code) return false;
  blackout_registered = hotkey_register(code, on_blackout_key);
  return blackout_registered;
}

void host_raise_panic(void) { host_eval(page_event_script(event_panic, nullptr).c_str()); }
