#include "app/platform/hotkey.h"

#include <windows.h>

#include "app/platform/log.h"
#include "app/platform/win/wide.h"
#include "app/platform/win/window_helper.h"

namespace {

constexpr int hotkey_id = 1;
constexpr UINT_PTR release_timer = 1;
constexpr UINT release_poll_ms = 30;

// The black-out key's state, UI thread only: whether the key is registered for us and
// which it is, what a press does, and whether it is still held down since the last press
// that counted.
struct hotkey_state {
  bool registered = false;
  int code = 0;
  void (*press_action)(void) = nullptr;
  bool held = false;
};

hotkey_state hotkey;

void stop_watching_release(void) {
  if (hotkey.held) KillTimer(helper_window(), release_timer);
  hotkey.held = false;
}

bool take_key(int code, void (*on_press)(void)) {
  if (code <= 0 || code > 0xFE) return false;
  HWND owner = helper_window();
  if (!owner) return false;
  // No modifiers; MOD_NOREPEAT makes a held key one press. Windows ignores lock keys here.
  if (!RegisterHotKey(owner, hotkey_id, MOD_NOREPEAT, (UINT)code)) {
    log_failure("black-out key", "not registered: %s", error_text(GetLastError()).c_str());
    return false;
  }
  hotkey.registered = true;
  hotkey.code = code;
  hotkey.press_action = on_press;
  return true;
}

}  // namespace

// Windows answers a hot key registration at once.
void hotkey_register(int code, void (*on_press)(void), void (*answer)(bool, void *), void *data) {
  hotkey_unregister();
  bool taken = take_key(code, on_press);
  if (answer) answer(taken, data);
}

void hotkey_unregister(void) {
  stop_watching_release();
  if (hotkey.registered) UnregisterHotKey(helper_window(), hotkey_id);
  hotkey.registered = false;
  hotkey.code = 0;
  hotkey.press_action = nullptr;
}

// MOD_NOREPEAT is not honoured everywhere (Windows before 7, Wine): a held key may still
// send a press for every repeat. After a press that counts, further presses are ignored
// until the key is seen up again.
void hotkey_on_press(WPARAM id) {
  if (id != hotkey_id || !hotkey.registered || hotkey.held) return;
  hotkey.held = SetTimer(helper_window(), release_timer, release_poll_ms, nullptr) != 0;
  if (hotkey.press_action) hotkey.press_action();
}

void hotkey_on_timer(WPARAM id) {
  if (id != release_timer) return;
  if (hotkey.registered && (GetAsyncKeyState(hotkey.code) & 0x8000)) return;
  stop_watching_release();
}
