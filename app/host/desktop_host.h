#pragma once
// The host's desktop state and the window set-up that start-up dispatches once the
// window's message loop runs: close to tray, the tray icon, the page events and the
// black-out key. Everything here runs on the UI thread.
#include <atomic>
#include <mutex>

#include "webview.h"

// The web view, set by start-up once created; null before and after. Other threads (the
// vault worker, a download) post to it holding host_view_lock, and shutdown clears it
// holding the lock too, so nothing is posted to a view that is being deleted.
extern std::atomic<webview::engine *> host_view;
extern std::mutex host_view_lock;

// The window set-up (dispatched by start-up, runs once the message loop runs).
void window_setup(webview::engine *view);

// Every normal end (the tray's Quit, a termination signal, the session ending, a close
// without a tray): the page stores what it holds, then the window closes, the message
// loop ends and start-up's shutdown runs. A second call while storing does nothing.
void host_quit(void);

// Start-up's last use of the view: from here on no thread reaches it.
void host_release_view(void);

// Start-up's shutdown of the desktop pieces: no more page events, the black-out key
// released, the tray icon removed.
void host_shutdown_desktop(void);
