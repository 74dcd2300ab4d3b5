#include "app/platform/tray.h"

#include <windows.h>
#include <shellapi.h>
#include <string.h>
#include <wchar.h>

#include "app/platform/log.h"
#include "app/platform/win/icon.h"
#include "app/platform/win/tray_balloon.h"
#include "app/platform/win/window_helper.h"

namespace {

enum menu_command { command_open = 1, command_quit = 2 };

// The tray icon's state, UI thread only: what the menu does, whether the program wants the
// icon (so a restarted shell gets it back) and whether the shell shows it now, and what a
// click on the last notification does.
struct tray_state {
  tray_actions actions = {nullptr, nullptr};
  bool wanted = false;
  bool present = false;
  void (*balloon_click)(void) = nullptr;
};

tray_state tray;

// The icon's identity for the shell: the helper window and icon id 1.
NOTIFYICONDATAW icon_record(HWND owner) {
  NOTIFYICONDATAW record = {};
  record.cbSize = sizeof record;
  record.hWnd = owner;
  record.uID = 1;
  return record;
}

bool add_icon(void) {
  HWND owner = helper_window();
  if (!owner) return false;
  NOTIFYICONDATAW record = icon_record(owner);
  record.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  record.uCallbackMessage = tray_callback_message;
  record.hIcon = app_icon(false);
  wcscpy(record.szTip, L"mosswire");
  tray.present = Shell_NotifyIconW(NIM_ADD, &record);
  if (!tray.present) log_failure("tray", "the shell did not take the icon");
  return tray.present;
}

void run(void (*action)(void)) {
  if (action) action();
}

void show_menu(void) {
  HWND owner = helper_window();
  HMENU menu = CreatePopupMenu();
  if (!owner || !menu) return;
  AppendMenuW(menu, MF_STRING, command_open, L"Open mosswire");
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, command_quit, L"Quit mosswire");
  SetMenuDefaultItem(menu, command_open, FALSE);
  POINT at = {};
  GetCursorPos(&at);
  // The menu's owner must be in front, or a click elsewhere would not close the menu.
  SetForegroundWindow(owner);
  int command = TrackPopupMenu(menu, TPM_RETURNCMD | TPM_NONOTIFY | TPM_RIGHTBUTTON, at.x, at.y, 0,
                               owner, nullptr);
  // Lets the owner's queue see a message after the menu, so the next menu opens properly.
  PostMessageW(owner, WM_NULL, 0, 0);
  DestroyMenu(menu);
  if (command == command_open) run(tray.actions.open);
  if (command == command_quit) run(tray.actions.quit);
}

}  // namespace

bool tray_add(const tray_actions &actions) {
  tray.actions = actions;
  tray.wanted = true;
  return tray.present || add_icon();
}

void tray_remove(void) {
  tray.wanted = false;
  if (!tray.present) return;
  NOTIFYICONDATAW record = icon_record(helper_window());
  Shell_NotifyIconW(NIM_DELETE, &record);
  tray.present = false;
}

bool tray_present(void) { return tray.present; }

void tray_on_callback(LPARAM event) {
  switch (LOWORD(event)) {
    case WM_LBUTTONUP:
      run(tray.actions.open);
      break;
    case NIN_BALLOONUSERCLICK:
      run(tray.balloon_click ? tray.balloon_click : tray.actions.open);
      break;
    case WM_RBUTTONUP:
    case WM_CONTEXTMENU:
      show_menu();
      break;
  }
}

void tray_on_shell_restarted(void) {
  if (!tray.wanted) return;
  // The new shell knows no icon of ours; a stale entry is taken away first all the same,
  // so the add cannot fail as a duplicate.
  NOTIFYICONDATAW record = icon_record(helper_window());
  Shell_NotifyIconW(NIM_DELETE, &record);
  tray.present = false;
  add_icon();
}

bool tray_show_balloon(const wchar_t *title, const wchar_t *body, HICON icon, void (*on_click)(void)) {
  if (!tray.present) return false;
  NOTIFYICONDATAW record = icon_record(helper_window());
  record.uFlags = NIF_INFO;
  record.dwInfoFlags = NIIF_USER | NIIF_LARGE_ICON;
  record.hBalloonIcon = icon;
  wcsncpy(record.szInfoTitle, title, ARRAYSIZE(record.szInfoTitle) - 1);
  wcsncpy(record.szInfo, body, ARRAYSIZE(record.szInfo) - 1);
  if (!Shell_NotifyIconW(NIM_MODIFY, &record)) return false;
  tray.balloon_click = on_click;
  return true;
}
