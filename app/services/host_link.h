#pragma once
// What the native services need from the host, handed over once by main.cpp before the
// first call (tests hand over a recording double). Everything runs on the UI thread
// except where a comment says "any thread".

struct service_host {
  // Answers one page call with a JSON result text. Any thread.
  void (*reply)(const char *id, const char *result);
  // Runs task(arg) later on the UI thread, in posting order. Any thread.
  void (*dispatch)(void (*task)(void *arg), void *arg);
  // Ends the window's message loop; the process then shuts down and ends.
  void (*terminate)(void);
  // The main window's platform handle, or null before the window exists.
  void *(*main_window)(void);
  // Sets the main window's title (valid UTF-8).
  void (*set_title)(const char *title);
  // Shows the main window, restored and in front.
  void (*show_window)(void);
  // Adds the tray icon when it is not there; true when it is present afterwards.
  bool (*add_tray_icon)(void);
  // Removes any black-out key, stores the action (also null), then registers the named key
  // system-wide. answered (may be null) gets, exactly once, whether the key is now
  // registered: at once, or later when the desktop must be asked first; the UI thread
  // keeps running meanwhile.
  void (*set_blackout_key)(const char *name, void (*action)(void), void (*answered)(bool registered, void *data),
                           void *data);
  // The black-out action: raises the page's black-out event.
  void (*raise_panic)(void);
};

void services_attach_host(const service_host &host);

// The host handed over (all members null before services_attach_host).
const service_host &the_host(void);
