#pragma once
// The main window's desktop behaviour on GTK: what a close, a focus change or a
// minimise means to the host, and bringing the window to the front.

struct window_events {
  // Asked on every close request; true when the window is to hide instead of closing.
  bool (*close_hides)(void);
  // After the window hid on a close request.
  void (*hidden)(void);
  // The window gained (true) or lost (false) the user: active and not minimised.
  void (*focus)(bool gained);
};

// Hooks the events up and gives the window the program's icon. `window` is a GtkWindow*.
void window_attach(void *window, const window_events &events);

// Shows the window restored and in front. `startup_id` (may be null or empty) is the
// startup notification id of the start that asked for it.
void window_present(void *window, const char *startup_id);

// Hides the window.
void window_hide(void *window);

// Destroys the window for good (Quit): the web view's message loop then ends.
void window_destroy(void *window);
