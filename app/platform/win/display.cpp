#include "app/platform/display.h"

#include <windows.h>
#include <stdio.h>

#include "app/platform/win/hidden_window.h"
#include "app/platform/win/wide.h"

namespace {

const wchar_t session_class[] = L"mosswire-session";
const UINT console_quit = WM_APP + 1;
// The most the end of a session waits for the quit; the host's own bound is shorter.
const DWORD session_wait_ms = 10000;

// UI thread only, but for the window handle the console handler reads: the hidden window
// that hears the session end, and what it does then.
struct session_state {
  HWND window = nullptr;
  void (*terminate_action)(void) = nullptr;
};

session_state session;

// Windows may end the process as soon as WM_ENDSESSION is answered, so the quit (the page
// storing what it holds, then the window closing) is carried on here until the message
// loop is told to end; that WM_QUIT is put back for the loop this one interrupted.
void carry_quit_on(void) {
  DWORD until = GetTickCount() + session_wait_ms;
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(msg.wParam));
        return;
      }
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    LONG left = static_cast<LONG>(until - GetTickCount());
    if (left <= 0) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left), QS_ALLINPUT);
  }
}

LRESULT CALLBACK session_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_QUERYENDSESSION:
      return TRUE;
    case WM_ENDSESSION:
      if (wparam && session.terminate_action) {
        session.terminate_action();
        carry_quit_on();
      }
      return 0;
    default:
      if (message == console_quit) {
        if (session.terminate_action) session.terminate_action();
        return 0;
      }
      return DefWindowProcW(window, message, wparam, lparam);
  }
}

// Runs on a thread of its own that the console starts: it hands the quit to the UI thread.
BOOL WINAPI on_console_event(DWORD) {
  HWND window = session.window;
  return window && PostMessageW(window, console_quit, 0, 0);
}

}  // namespace

// A Windows session always has its desktop; there is nothing to open.
bool display_open(int *, char ***) { return true; }

// A program of the GUI subsystem has no console for stderr: the box is what a person sees.
void display_error(const char *text) {
  fprintf(stderr, "%s\n", text);
  MessageBoxW(nullptr, widen(text).c_str(), L"mosswire", MB_OK | MB_ICONERROR);
}

/*
 * Windows tells each top-level window that the session ends (WM_ENDSESSION); a program
 * started from a console also hears Ctrl+C and the console closing. Both end the program
 * the way the tray's Quit does. The hidden window is top-level (a message-only window
 * hears no session end) and belongs to the calling UI thread.
 */
void display_on_terminate(void (*quit)(void)) {
  session.terminate_action = quit;
  if (session.window) return;
  session.window = hidden_window_make(session_class, session_procedure, L"", "session", "the session window");
  if (!session.window) return;
  SetConsoleCtrlHandler(on_console_event, TRUE);
}
