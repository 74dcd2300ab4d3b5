#include "tests/win/desktop_hand.h"

#include <shellapi.h>
#include <wchar.h>

#include "app/platform/win/window_helper.h"

void key(WORD vk, bool down) {
  INPUT input = {};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = vk;
  input.ki.wScan = (WORD)MapVirtualKeyW(vk, MAPVK_VK_TO_VSC);
  input.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
  SendInput(1, &input, sizeof input);
}

void tap(WORD vk) {
  key(vk, true);
  key(vk, false);
}

bool key_free(WORD vk) {
  if (!RegisterHotKey(nullptr, 77, MOD_NOREPEAT, vk)) return false;
  UnregisterHotKey(nullptr, 77);
  return true;
}

bool shell_has_icon() {
  NOTIFYICONDATAW record = {};
  record.cbSize = sizeof record;
  record.hWnd = helper_window();
  record.uID = 1;
  record.uFlags = NIF_TIP;
  wcscpy(record.szTip, L"mosswire");
  return Shell_NotifyIconW(NIM_MODIFY, &record);
}

void tray_event(UINT event) { SendMessageW(helper_window(), tray_callback_message, 1, event); }

// The items of an open pop-up menu, read through its window.
void read_menu(HWND menu_window, menu_seen *seen) {
  HMENU menu = (HMENU)SendMessageW(menu_window, MN_GETHMENU, 0, 0);
  if (!menu) return;
  for (int i = 0; i < GetMenuItemCount(menu); i++) {
    wchar_t text[64] = L"";
    UINT state = GetMenuState(menu, i, MF_BYPOSITION);
    if (state & MF_SEPARATOR) {
      seen->items += L"-";
    } else {
      GetMenuStringW(menu, i, text, 64, MF_BYPOSITION);
      seen->items += text;
    }
    seen->items += L"|";
  }
  seen->default_command = (int)GetMenuDefaultItem(menu, FALSE, 0);
}

std::thread choose_menu_item(UINT arrow, int presses, menu_seen *seen) {
  return std::thread([arrow, presses, seen] {
    HWND menu = nullptr;
    for (int i = 0; i < 250 && !menu; i++) {
      Sleep(20);
      menu = FindWindowW(L"#32768", nullptr);
      if (menu && !IsWindowVisible(menu)) menu = nullptr;
    }
    if (!menu) return;
    if (seen) read_menu(menu, seen);
    for (int i = 0; i < presses; i++) {
      PostMessageW(menu, WM_KEYDOWN, arrow, 0);
      PostMessageW(menu, WM_KEYUP, arrow, 0xC0000000);
    }
    PostMessageW(menu, WM_KEYDOWN, VK_RETURN, 0);
    PostMessageW(menu, WM_KEYUP, VK_RETURN, 0xC0000000);
  });
}
