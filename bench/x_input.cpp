#include "x_input.h"

#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <unistd.h>

#include "process_util.h"

bool x_geometry(x_session *x, Window w, int *left, int *top, int *width, int *height) {
  XWindowAttributes a;
  Window child;
  if (!XGetWindowAttributes(x->dpy, w, &a)) return false;
  if (!XTranslateCoordinates(x->dpy, w, DefaultRootWindow(x->dpy), 0, 0, left, top, &child)) return false;
  *width = a.width;
  *height = a.height;
  return true;
}

bool x_place(x_session *x, Window w, int left, int top) {
  XMoveWindow(x->dpy, w, left, top);
  XSync(x->dpy, False);
  for (int tries = 0; tries < 50; tries++) {
    int l, t, width, height;
    if (x_geometry(x, w, &l, &t, &width, &height) && l == left && t == top) return true;
    usleep(20000);
  }
  return false;
}

void x_click_at(x_session *x, Window w, int px, int py) {
  int root_x = 0, root_y = 0;
  Window child;
  XTranslateCoordinates(x->dpy, w, DefaultRootWindow(x->dpy), px, py, &root_x, &root_y, &child);
  XTestFakeMotionEvent(x->dpy, -1, root_x, root_y, 0);
  XFlush(x->dpy);
  usleep(50000);
  XTestFakeButtonEvent(x->dpy, 1, True, 0);
  XFlush(x->dpy);
  usleep(30000);
  XTestFakeButtonEvent(x->dpy, 1, False, 0);
  XSetInputFocus(x->dpy, w, RevertToPointerRoot, CurrentTime);
  XSync(x->dpy, False);
}

void x_type(x_session *x, const std::string &text) {
  for (char c : text) {
    char name[2] = {c, 0};
    KeySym sym = c == ' ' ? XK_space : XStringToKeysym(name);
    KeyCode code = sym == NoSymbol ? 0 : XKeysymToKeycode(x->dpy, sym);
    if (!code) continue;
    XTestFakeKeyEvent(x->dpy, code, True, 0);
    XTestFakeKeyEvent(x->dpy, code, False, 0);
    XFlush(x->dpy);
    usleep(30000);
  }
}

double x_tap(x_session *x, unsigned long keysym) {
  KeyCode code = XKeysymToKeycode(x->dpy, keysym);
  double at = monotonic_ms();
  XTestFakeKeyEvent(x->dpy, code, True, 0);
  XTestFakeKeyEvent(x->dpy, code, False, 0);
  XFlush(x->dpy);
  return at;
}
