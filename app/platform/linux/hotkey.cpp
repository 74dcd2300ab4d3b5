#include "app/platform/hotkey.h"
#include "app/platform/linux/x_keys.h"

#include <gdk/gdk.h>
#ifdef GDK_WINDOWING_X11
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <gdk/gdkx.h>
#endif

#include "app/platform/linux/portal_shortcut.h"
#include "app/platform/log.h"

unsigned long keysym_for_key_code(int code) {
#ifdef GDK_WINDOWING_X11
  if (code >= 'A' && code <= 'Z') return XK_a + (code - 'A');
  if (code >= '0' && code <= '9') return XK_0 + (code - '0');
  if (code >= 0x70 && code <= 0x87) return XK_F1 + (code - 0x70);
  switch (code) {
    case 0x1B: return XK_Escape;
    case 0xC0: return XK_grave;
    case 0xBD: return XK_minus;
    case 0xBB: return XK_equal;
    case 0xDB: return XK_bracketleft;
    case 0xDD: return XK_bracketright;
    case 0xDC: return XK_backslash;
    case 0xBA: return XK_semicolon;
    case 0xDE: return XK_apostrophe;
    case 0xBC: return XK_comma;
    case 0xBE: return XK_period;
    case 0xBF: return XK_slash;
    case 0x20: return XK_space;
    case 0x09: return XK_Tab;
    case 0x2D: return XK_Insert;
    case 0x2E: return XK_Delete;
    case 0x24: return XK_Home;
    case 0x23: return XK_End;
    case 0x21: return XK_Page_Up;
    case 0x22: return XK_Page_Down;
    case 0x25: return XK_Left;
    case 0x27: return XK_Right;
    case 0x26: return XK_Up;
    case 0x28: return XK_Down;
    case 0x13: return XK_Pause;
    case 0x91: return XK_Scroll_Lock;
  }
#endif
  (void)code;
  return 0;
}

#ifdef GDK_WINDOWING_X11

namespace {

// The lock modifiers a user may have on; the key must work with any of them.
const unsigned lock_masks[] = {0, LockMask, Mod2Mask, LockMask | Mod2Mask};

// The grab's state, UI thread only: where the key is grabbed (0 for no key), whether it
// is held down now (so a held key counts once), whether the event filter is installed,
// and what a press does.
struct grab_state {
  Display *display = nullptr;
  Window root = 0;
  int keycode = 0;
  bool key_down = false;
  bool filter_added = false;
  void (*press_action)(void) = nullptr;
};

grab_state grab;

void ungrab_all(GdkDisplay *display) {
  gdk_x11_display_error_trap_push(display);
  for (unsigned m : lock_masks) XUngrabKey(grab.display, grab.keycode, m, grab.root);
  XSync(grab.display, False);
  gdk_x11_display_error_trap_pop_ignored(display);
}

GdkFilterReturn on_x_event(GdkXEvent *native, GdkEvent *, gpointer) {
  XEvent *e = static_cast<XEvent *>(native);
  if (!grab.keycode || (e->type != KeyPress && e->type != KeyRelease)) return GDK_FILTER_CONTINUE;
  if ((int)e->xkey.keycode != grab.keycode || e->xkey.window != grab.root) return GDK_FILTER_CONTINUE;
  if (e->type == KeyRelease) {
    grab.key_down = false;
  } else if (!grab.key_down) {
    // With detectable auto-repeat a held key sends presses without releases in between;
    // only the first press counts.
    grab.key_down = true;
    if (grab.press_action) grab.press_action();
  }
  return GDK_FILTER_REMOVE;
}

}  // namespace

namespace {

bool grab_key(GdkDisplay *display, unsigned long keysym, void (*on_press)(void)) {
  Display *x = GDK_DISPLAY_XDISPLAY(display);
  int keycode = XKeysymToKeycode(x, keysym);
  if (!keycode) return false;

  grab.display = x;
  grab.root = DefaultRootWindow(x);
  grab.keycode = keycode;
  gdk_x11_display_error_trap_push(display);
  for (unsigned m : lock_masks) XGrabKey(x, keycode, m, grab.root, False, GrabModeAsync, GrabModeAsync);
  XSync(x, False);
  if (gdk_x11_display_error_trap_pop(display)) {
    // Another program holds the key (BadAccess): take back whatever part we got.
    log_failure("black-out key", "another program holds the key");
    ungrab_all(display);
    grab.keycode = 0;
    return false;
  }
  Bool supported = False;
  XkbSetDetectableAutoRepeat(x, True, &supported);
  if (!grab.filter_added) {
    gdk_window_add_filter(nullptr, on_x_event, nullptr);
    grab.filter_added = true;
  }
  grab.key_down = false;
  grab.press_action = on_press;
  return true;
}

}  // namespace

void hotkey_register(int code, void (*on_press)(void), void (*answer)(bool, void *), void *data) {
  hotkey_unregister();
  GdkDisplay *display = gdk_display_get_default();
  unsigned long keysym = keysym_for_key_code(code);
  const char *trigger = keysym ? XKeysymToString(keysym) : nullptr;
  // Without X11 (a Wayland session) no program may grab a key: the desktop portal binds
  // it for us, where it offers global shortcuts. Its triggers name keys as X keysyms do.
  if (trigger && (!display || !GDK_IS_X11_DISPLAY(display)))
    return portal_shortcut_bind(trigger, on_press, answer, data);
  bool taken = keysym && display && GDK_IS_X11_DISPLAY(display) && grab_key(display, keysym, on_press);
  if (answer) answer(taken, data);
}

void hotkey_unregister(void) {
  portal_shortcut_release();
  if (!grab.keycode) return;
  GdkDisplay *display = gdk_display_get_default();
  if (display) ungrab_all(display);
  grab.keycode = 0;
  grab.press_action = nullptr;
  grab.key_down = false;
}

#else

void hotkey_register(int, void (*)(void), void (*answer)(bool, void *), void *data) {
  if (answer) answer(false, data);
}
void hotkey_unregister(void) {}

#endif
