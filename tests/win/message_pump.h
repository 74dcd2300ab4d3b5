#pragma once
// Running the UI thread's messages in the desktop tests.
#include <windows.h>

// Runs this thread's messages until done() holds or ms have passed; answers done(). The
// time allowed is generous for a loaded machine: a wait that succeeds ends at once.
template <class F>
bool pump_until(F done, int ms = 10000) {
  DWORD end = GetTickCount() + ms;
  for (;;) {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&m);
      DispatchMessageW(&m);
    }
    if (done()) return true;
    if ((int)(end - GetTickCount()) <= 0) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
}

inline void pump(int ms) {
  pump_until([] { return false; }, ms);
}
