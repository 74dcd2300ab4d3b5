#pragma once
// The main window's desktop behaviour: what a close, a focus change or a minimise means
// to the host, bringing the window to the front and asking for the user's attention.
// `window` is the platform's handle of the main window (a GtkWindow* on Linux). UI thread.

// What a close request comes to: the window closes now, hides (to the tray), or stays
// as it is while the host ends the program in its own time.
enum close_choice { close_now, close_hide, close_keep };

struct window_events {
  // Asked on every close request.
  close_choice (*close)(void);
  // After the window hid on a close request.
  void (*hidden)(void);
  // The window gained (true) or lost (false) the user: active and not minimised.
  void (*focus)(bool gained);
};

// Hooks the events up and gives the window the program's icon.
void window_attach(void *window, const window_events &events);

// Shows the window restored and in front. `startup_id` (may be null or empty) is the
// launcher's token of the start that asked for it.
void window_present(void *window, const char *startup_id);

// Hides the window.
void window_hide(void *window);

// Destroys the window for good (Quit): the web view's message loop then ends.
void window_destroy(void *window);

// Asks for the user's attention until the window is active; never on a window the user
// is already using. A null window is ignored.
void window_request_attention(void *window);

// Visible, not minimised and the active (focused) window; false for a null window.
bool window_in_front(void *window);
