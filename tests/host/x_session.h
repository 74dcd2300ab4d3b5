#pragma once
// What the window tests need from the X server the program runs on: its windows'
// titles and map states, the close request a window manager sends, fake key presses,
// and a grab of a key on our own account.
#include <X11/Xlib.h>
#include <sys/types.h>

#include <string>

struct x_session {
  Display *dpy = nullptr;
};

bool x_open(x_session *x);
void x_close(x_session *x);

// The top-level window of process `pid` that has a title, or 0.
Window x_find_window(x_session *x, pid_t pid);
std::string x_title(x_session *x, Window w);
bool x_viewable(x_session *x, Window w);
void x_send_close(x_session *x, Window w);
// The window's size and the minimum size it asks the window manager for.
bool x_sizes(x_session *x, Window w, int *width, int *height, int *min_width, int *min_height);
// Presses (and after hold_ms releases) the key with this keysym.
void x_press_key(x_session *x, unsigned long keysym, int hold_ms);
// Moves the pointer to the middle of the window and clicks the first button there.
void x_click_middle(x_session *x, Window w);
// Grabs / releases a key on the root window for this test process; false on BadAccess.
bool x_grab_key(x_session *x, unsigned long keysym);
void x_ungrab_key(x_session *x, unsigned long keysym);
