#pragma once
// The host's calls for the native services; main.cpp hands them over as the services'
// service_host record. Everything runs on the UI thread except where a comment says
// "any thread".

// Answers one page call with status 0 and a JSON result text. Any thread.
void host_reply(const char *id, const char *result);

// Runs task(arg) later on the UI thread, in posting order. Any thread.
void host_dispatch(void (*task)(void *arg), void *arg);

// Evaluates a script in the page; the result is not collected.
void host_eval(const char *script);

// Ends the window's message loop; start-up's shutdown then runs and the process ends.
void host_terminate(void);

// The main window's platform handle, or null before the window set-up task ran.
void *host_main_window(void);

// Sets the main window's title (UTF-8).
void host_set_title(const char *title);

// Shows the main window, restored and in front (tray click, notification click).
void host_show_window(void);

// Adds the tray icon when it is not there; true when it is present afterwards.
bool host_add_tray_icon(void);

// Black-out key: removes any registered key, stores the action (also null), then
// registers the named key system-wide without modifiers and without auto-repeat.
// answered (may be null) gets, exactly once and on the UI thread, whether the key is now
// registered: before this returns, or later when the desktop must be asked first (the
// portal of a session without X11); the UI thread keeps running meanwhile. A registration
// still waiting when the key is set again is answered false.
void host_set_blackout_key(const char *name, void (*action)(void), void (*answered)(bool registered, void *data),
                           void *data);

// The black-out action: raises the page's black-out event.
void host_raise_panic(void);
