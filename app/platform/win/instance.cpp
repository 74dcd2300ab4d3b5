#include "app/platform/instance.h"

#include <windows.h>

#include "app/platform/log.h"
#include "app/platform/win/hidden_window.h"
#include "app/platform/win/wide.h"

namespace {

// The lock: a mutex in the signed-in user's own namespace, created owned by the thread
// that becomes the UI thread. The system abandons it when the process ends, however it
// ends, which is what a copy started after an update waits for.
const wchar_t lock_name[] = L"Local\\mosswire-running";
const wchar_t show_message_name[] = L"mosswire-show";
const wchar_t listener_class[] = L"mosswire-instance";

// This copy's hold on the instance, UI thread only: the mutex (never closed), the
// registered show message, and the hidden window that hears it.
struct instance_state {
  HANDLE lock = nullptr;
  UINT show_message = 0;
  HWND listener = nullptr;
  void (*show_handler)(const char *) = nullptr;
};

instance_state instance;

LRESULT CALLBACK listener_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (instance.show_message && message == instance.show_message) {
    // Windows has no launcher token to pass on: the second start's
    // AllowSetForegroundWindow is what lets this copy come to the front.
    if (instance.show_handler) instance.show_handler("");
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

// Asks every top-level window, the running copy's among them, to show itself. Best
// effort: a copy still starting has no listener yet and the request is lost.
void ask_to_show(void) {
  AllowSetForegroundWindow(ASFW_ANY);
  UINT message = RegisterWindowMessageW(show_message_name);
  if (message) PostMessageW(HWND_BROADCAST, message, 0, 0);
}

}  // namespace

bool instance_check(bool after_update) {
  SetLastError(ERROR_SUCCESS);
  HANDLE lock = CreateMutexW(nullptr, TRUE, lock_name);
  if (!lock) {
    log_failure("single instance", "the lock can't be made: %s", error_text(GetLastError()).c_str());
    return false;
  }
  instance.lock = lock;
  if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
  if (after_update) {
    // The copy that installed this one is still ending; it gives the lock up when it has.
    DWORD waited = WaitForSingleObject(lock, 30000);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) return false;
  }
  ask_to_show();
  return true;
}

/*
 * The request arrives as a registered message posted to all top-level windows, so the
 * listener is a hidden top-level window of its own (a message-only window hears no
 * broadcast). It belongs to the calling thread, whose message loop then runs the handler.
 */
void instance_watch_show(void (*on_show)(const char *startup_id)) {
  instance.show_handler = on_show;
  if (instance.listener) return;
  instance.show_message = RegisterWindowMessageW(show_message_name);
  if (!instance.show_message) {
    log_failure("single instance", "the show message can't be registered: %s",
                error_text(GetLastError()).c_str());
    return;
  }
  instance.listener =
      hidden_window_make(listener_class, listener_procedure, L"", "single instance", "the listener window");
  if (!instance.listener) return;
  // A program running with higher rights than the second start still hears it.
  ChangeWindowMessageFilterEx(instance.listener, instance.show_message, MSGFLT_ALLOW, nullptr);
}
