#pragma once
// The host's desktop state and the window set-up that start-up dispatches once the
// window's message loop runs: close to tray, the tray icon, the page events and the
// black-out key. Everything here runs on the UI thread.
#include <atomic>

#include "webview.h"

// The web view, set by start-up once created; null before and after. Atomic because
// worker threads reply through it while start-up may be clearing it at shutdown.
extern std::atomic<webview::engine *> host_view;

// The window set-up (dispatched by start-up, runs once the message loop runs).
void window_setup(webview::engine *view);

// Quit from the tray menu or a termination signal: the next close really closes, the
// message loop ends and start-up's shutdown runs.
void host_quit(void);

// Start-up's shutdown of the desktop pieces: no more page events, the black-out key
// released, the tray icon removed.
void host_shutdown_desktop(void);
