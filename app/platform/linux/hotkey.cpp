#include "app/platform/hotkey.h"
#include "app/platform/linux/x_keys.h"

#include <gdk/gdk.h>
#ifdef GDK_WINDOWING_X11
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <gdk/gdkx.h>
#endif

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

Display *grab_display = nullptr;
Window grab_root = 0;
int grabbed_keycode = 0;
bool key_down = false;
bool filter_added = false;
void (*press_action)(void) = nullptr;

void ungrab_all(GdkDisplay *display) {
  gdk_x11_display_error_trap_push(display);
  for (unsigned m : lock_masks) XUngrabKey(grab_display, grabbed_keycode, m, grab_root);
  XSync(grab_display, False);
  gdk_x11_display_error_trap_pop_ignored(display);
}

GdkFilterReturn on_x_event(GdkXEvent *native, GdkEvent *, gpointer) {
  XEvent *e = static_cast<XEvent *>(native);
  if (!grabbed_keycode || (e->type != KeyPress && e->type != KeyRelease)) return GDK_FILTER_CONTINUE;
  if ((int)e->xkey.keycode != grabbed_keycode || e->xkey.window != grab_root) return GDK_FILTER_CONTINUE;
  if (e->type == KeyRelease) {
    key_down = false;
  } else if (!key_down) {
    // With detectable auto-repeat a held key sends presses without releases in between;
    // only the first press counts.
    key_down = true;
    if (press_action) press_action();
  }
  return GDK_FILTER_REMOVE;
}

}  // namespace

bool hotkey_register(int code, void (*on_press)(void)) {
  hotkey_unregister();
  GdkDisplay *display = gdk_display_get_default();
  if (!display || !GDK_IS_X11_DISPLAY(display)) return false;
  unsigned long keysym = keysym_for_key_code(code);
  if (!keysym) return false;
  Display *x = GDK_DISPLAY_XDISPLAY(display);
  int keycode = XKeysymToKeycode(x, keysym);
  if (!keycode) return false;

  grab_display = x;
  grab_root = DefaultRootWindow(x);
  grabbed_keycode = keycode;
  gdk_x11_display_error_trap_push(display);
  for (unsigned m : lock_masks) XGrabKey(x, keycode, m, grab_root, False, GrabModeAsync, GrabModeAsync);
  XSync(x, False);
  if (gdk_x11_display_error_trap_pop(display)) {
    // Another program holds the key (BadAccess): take back whatever part we got.
    ungrab_all(display);
    grabbed_keycode = 0;
    return false;
  }
  Bool supported = False;
  XkbSetDetectableAutoRepeat(x, True, &supported);
  if (!filter_added) {
    gdk_window_add_filter(nullptr, on_x_event, nullptr);
    filter_added = true;
  }
  key_down = false;
  press_action = on_press;
  return true;
}

void hotkey_unregister(void) {
  if (!grabbed_keycode) return;
  GdkDisplay *display = gdk_display_get_default();
  if (display) ungrab_all(display);
  grabbed_keycode = 0;
  press_action = nullptr;
  key_down = false;
}

#else

bool hotkey_register(int, void (*)(void)) { return false; }
void hotkey_unregister(void) {}

#endif
