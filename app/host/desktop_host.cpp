#include "desktop_host.h"

#include <chrono>
#include <thread>

#include "app/host/host.h"
#include "app/host/key_names.h"
#include "app/host/page_events.h"
#include "app/platform/hotkey.h"
#include "app/platform/instance.h"
#include "app/platform/tray.h"
#include "app/platform/window.h"

std::atomic<webview::engine *> host_view{nullptr};
std::mutex host_view_lock;

namespace {

/*
 * The host's desktop state. One record, read and written on the UI thread only. The page
 * events are hooked up once the window exists and unhooked first at shutdown, so no event
 * reaches a page that is going away; while the away action is set and a tray shows the
 * icon, closing the window hides it to the tray.
 *
 * Every normal end (Quit, a close without a tray to go back to, the session ending, a
 * signal) goes through host_quit: the page is asked to store what it holds first, and the
 * window goes once it answers that the write is on disk, or after quit_wait_ms if it does
 * not answer (a hung page must not hold the exit).
 */
struct desktop_state {
  void *main_window = nullptr;              // the platform's handle; null before set-up and after shutdown
  void (*focus_action)(bool) = nullptr;     // raises the page's focus event
  void (*away_action)(void) = nullptr;      // raises the page's away event
  void (*blackout_action)(void) = nullptr;  // what the black-out key does (the page's black-out)
  bool blackout_registered = false;         // a key is held system-wide now
  bool blackout_waiting = false;            // a registration waits for the desktop's answer
  bool quitting = false;                    // the page is asked to store before the end
  bool closing = false;                     // storing is over: the window goes now
};

desktop_state desktop;

const int quit_wait_ms = 3000;

void raise_focus(bool gained) { host_eval(page_event_script(event_focus, gained ? "true" : "false").c_str()); }

void raise_away(void) { host_eval(page_event_script(event_away, nullptr).c_str()); }

void set_focus_action(void (*action)(bool)) { desktop.focus_action = action; }

void set_away_action(void (*action)(void)) {
  desktop.away_action = action;
  if (action && desktop.main_window) host_add_tray_icon();
}

void close_for_good(void) {
  if (desktop.closing) return;
  desktop.closing = true;
  if (desktop.main_window)
    window_destroy(desktop.main_window);
  else
    host_terminate();
}

void on_quit_answer(const char *, const char *, void *) {
  if (desktop.quitting) close_for_good();
}

// Without a tray to come back from, a hidden window could be neither seen nor quit: a
// close then ends the program, the page's data stored first.
close_choice on_close(void) {
  if (desktop.closing) return close_now;
  if (desktop.quitting) return close_keep;
  if (desktop.away_action && tray_present()) return close_hide;
  host_quit();
  return close_keep;
}

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
  view->listen(contract_events[event_quit].name, on_quit_answer, nullptr);
  window_attach(desktop.main_window, window_events{on_close, after_hide, on_focus});
  set_away_action(raise_away);
  set_focus_action(raise_focus);
}

void host_quit(void) {
  if (desktop.quitting) return;  // already storing: the end comes by itself
  desktop.quitting = true;
  if (!desktop.main_window) return close_for_good();
  host_eval(page_event_answered_script(event_quit).c_str());
  std::thread([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(quit_wait_ms));
    host_dispatch([](void *) { close_for_good(); }, nullptr);
  }).detach();
}

void host_release_view(void) {
  std::lock_guard<std::mutex> hold(host_view_lock);
  host_view = nullptr;
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
