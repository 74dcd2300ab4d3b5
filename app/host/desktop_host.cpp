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

/*
 * The host's desktop state. One record, read and written on the UI thread only. The page
 * events are hooked up once the window exists and unhooked first at shutdown, so no event
 * reaches a page that is going away; while the away action is set, closing the window hides
 * it to the tray, until Quit says the next close really closes.
 */
struct desktop_state {
  void *main_window = nullptr;              // the platform's handle; null before set-up and after shutdown
  void (*focus_action)(bool) = nullptr;     // raises the page's focus event
  void (*away_action)(void) = nullptr;      // raises the page's away event
  void (*blackout_action)(void) = nullptr;  // what the black-out key does (the page's black-out)
  bool blackout_registered = false;         // a key is held system-wide now
  bool blackout_waiting = false;            // a registration waits for the desktop's answer
  bool quitting = false;                    // Quit was chosen: the next close really closes
};

desktop_state desktop;

void raise_focus(bool gained) { host_eval(page_event_script(event_focus, gained ? "true" : "false").c_str()); }

void raise_away(void) { host_eval(page_event_script(event_away, nullptr).c_str()); }

void set_focus_action(void (*action)(bool)) { desktop.focus_action = action; }

void set_away_action(void (*action)(void)) {
  desktop.away_action = action;
  if (action && desktop.main_window) host_add_tray_icon();
}

bool close_hides(void) { return desktop.away_action && !desktop.quitting; }

void after_hide(void) {
  if (desktop.away_action) desktop.away_action();
  if (desktop.focus_action) desktop.focus_action(false);
}

void on_focus(bool gained) {
  if (desktop.focus_action) desktop.focus_action(gained);
}

void on_show_request(const char *startup_id) {
  if (desktop.main_window) window_present(desktop.main_window, startup_id);
}

void on_blackout_key(void) {
  if (desktop.blackout_action) desktop.blackout_action();
}

// Who asked for a black-out key and waits for the answer.
struct blackout_request {
  void (*answered)(bool, void *);
  void *data;
};

void on_blackout_answer(bool registered, void *data) {
  blackout_request *request = static_cast<blackout_request *>(data);
  desktop.blackout_waiting = false;
  desktop.blackout_registered = registered;
  if (request->answered) request->answered(registered, request->data);
  delete request;
}

const tray_actions tray_menu = {host_show_window, host_quit};

}  // namespace

void window_setup(webview::engine *view) {
  desktop.main_window = view->window();
  if (!desktop.main_window) return;
  instance_watch_show(on_show_request);
  window_attach(desktop.main_window, window_events{close_hides, after_hide, on_focus});
  set_away_action(raise_away);
  set_focus_action(raise_focus);
}

void host_quit(void) {
  desktop.quitting = true;
  if (desktop.main_window)
    window_destroy(desktop.main_window);
  else
    host_terminate();
}

void host_shutdown_desktop(void) {
  desktop.focus_action = nullptr;
  desktop.away_action = nullptr;
  host_set_blackout_key(nullptr, nullptr, nullptr, nullptr);
  tray_remove();
  desktop.main_window = nullptr;
}

void *host_main_window(void) { return desktop.main_window; }

void host_show_window(void) {
  if (desktop.main_window) window_present(desktop.main_window, nullptr);
}

bool host_add_tray_icon(void) { return tray_add(tray_menu); }

void host_set_blackout_key(const char *name, void (*action)(void), void (*answered)(bool, void *), void *data) {
  // A registration still waiting is given up here too; it answers false first.
  if (desktop.blackout_registered || desktop.blackout_waiting) hotkey_unregister();
  desktop.blackout_registered = false;
  desktop.blackout_waiting = false;
  desktop.blackout_action = action;
  int code = name && *name && desktop.main_window ? blackout_key_code(name) : 0;
  if (!code) {
    if (answered) answered(false, data);
    return;
  }
  desktop.blackout_waiting = true;
  hotkey_register(code, on_blackout_key, on_blackout_answer, new blackout_request{answered, data});
}

void host_raise_panic(void) { host_eval(page_event_script(event_panic, nullptr).c_str()); }
