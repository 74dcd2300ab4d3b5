#include "x_session.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <unistd.h>

namespace {

int last_error = 0;
int record_error(Display *, XErrorEvent *e) {
  last_error = e->error_code;
  return 0;
}

bool window_pid(x_session *x, Window w, pid_t *pid) {
  Atom prop = XInternAtom(x->dpy, "_NET_WM_PID", False);
  Atom type;
  int format;
  unsigned long n, after;
  unsigned char *data = nullptr;
  if (XGetWindowProperty(x->dpy, w, prop, 0, 1, False, XA_CARDINAL, &type, &format, &n, &after, &data) != Success ||
      !data || n == 0) {
    if (data) XFree(data);
    return false;
  }
  *pid = (pid_t)(*(unsigned long *)data);
  XFree(data);
  return true;
}

}  // namespace

bool x_open(x_session *x) {
  x->dpy = XOpenDisplay(nullptr);
  if (x->dpy) XSetErrorHandler(record_error);
  return x->dpy != nullptr;
}

void x_close(x_session *x) {
  if (x->dpy) XCloseDisplay(x->dpy);
  x->dpy = nullptr;
}

std::string x_title(x_session *x, Window w) {
  Atom prop = XInternAtom(x->dpy, "_NET_WM_NAME", False), utf8 = XInternAtom(x->dpy, "UTF8_STRING", False);
  Atom type;
  int format;
  unsigned long n, after;
  unsigned char *data = nullptr;
  std::string out;
  last_error = 0;
  if (XGetWindowProperty(x->dpy, w, prop, 0, 1 << 20, False, utf8, &type, &format, &n, &after, &data) == Success &&
      data) {
    out.assign((const char *)data, n);
  }
  if (data) XFree(data);
  return out;
}

Window x_find_window(x_session *x, pid_t pid) {
  Window root = DefaultRootWindow(x->dpy), parent, *children = nullptr;
  unsigned n = 0;
  Window found = 0;
  XSync(x->dpy, False);
  if (!XQueryTree(x->dpy, root, &root, &parent, &children, &n)) return 0;
  for (unsigned i = 0; i < n && !found; i++) {
    pid_t p;
    XWindowAttributes a;
    // The main window is the shown one with a title (not the client leader or a tray
    // icon of the program).
    if (window_pid(x, children[i], &p) && p == pid && !x_title(x, children[i]).empty() &&
        XGetWindowAttributes(x->dpy, children[i], &a) && a.c_class == InputOutput && a.map_state == IsViewable)
      found = children[i];
  }
  if (children) XFree(children);
  return found;
}

bool x_viewable(x_session *x, Window w) {
  XWindowAttributes a;
  XSync(x->dpy, False);
  return XGetWindowAttributes(x->dpy, w, &a) && a.map_state == IsViewable;
}

void x_send_close(x_session *x, Window w) {
  XEvent ev = {};
  ev.xclient.type = ClientMessage;
  ev.xclient.window = w;
  ev.xclient.message_type = XInternAtom(x->dpy, "WM_PROTOCOLS", False);
  ev.xclient.format = 32;
  ev.xclient.data.l[0] = (long)XInternAtom(x->dpy, "WM_DELETE_WINDOW", False);
  ev.xclient.data.l[1] = CurrentTime;
  XSendEvent(x->dpy, w, False, NoEventMask, &ev);
  XFlush(x->dpy);
}

void x_press_key(x_session *x, unsigned long keysym, int hold_ms) {
  KeyCode code = XKeysymToKeycode(x->dpy, keysym);
  XTestFakeKeyEvent(x->dpy, code, True, 0);
  XFlush(x->dpy);
  // A held key repeats: more presses arrive before the release, as auto-repeat sends.
  for (int held = 100; held < hold_ms; held += 100) {
    usleep(100000);
    XTestFakeKeyEvent(x->dpy, code, True, 0);
    XFlush(x->dpy);
  }
  usleep((hold_ms % 100) * 1000);
  XTestFakeKeyEvent(x->dpy, code, False, 0);
  XFlush(x->dpy);
}

bool x_grab_key(x_session *x, unsigned long keysym) {
  KeyCode code = XKeysymToKeycode(x->dpy, keysym);
  last_error = 0;
  XGrabKey(x->dpy, code, 0, DefaultRootWindow(x->dpy), False, GrabModeAsync, GrabModeAsync);
  XSync(x->dpy, False);
  return last_error == 0;
}

void x_ungrab_key(x_session *x, unsigned long keysym) {
  XUngrabKey(x->dpy, XKeysymToKeycode(x->dpy, keysym), 0, DefaultRootWindow(x->dpy));
  XSync(x->dpy, False);
}

bool x_sizes(x_session *x, Window w, int *width, int *height, int *min_width, int *min_height) {
  XWindowAttributes a;
  XSizeHints hints = {};
  long supplied = 0;
  if (!XGetWindowAttributes(x->dpy, w, &a) || !XGetWMNormalHints(x->dpy, w, &hints, &supplied)) return false;
  *width = a.width;
  *height = a.height;
  *min_width = (hints.flags & PMinSize) ? hints.min_width : 0;
  *min_height = (hints.flags & PMinSize) ? hints.min_height : 0;
  return true;
}

void x_click_middle(x_session *x, Window w) {
  XWindowAttributes a;
  if (!XGetWindowAttributes(x->dpy, w, &a)) return;
  int root_x = 0, root_y = 0;
  Window child;
  XTranslateCoordinates(x->dpy, w, DefaultRootWindow(x->dpy), a.width / 2, a.height / 2, &root_x, &root_y, &child);
  XTestFakeMotionEvent(x->dpy, -1, root_x, root_y, 0);
  XFlush(x->dpy);
  usleep(100000);
  XTestFakeButtonEvent(x->dpy, 1, True, 0);
  XFlush(x->dpy);
  usleep(50000);
  XTestFakeButtonEvent(x->dpy, 1, False, 0);
  XFlush(x->dpy);
}
