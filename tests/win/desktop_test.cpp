// The desktop side of the Windows layer with real Windows calls, under Wine on its own X
// display: the main window's close, focus and minimise behaviour, the icon, the tray icon
// with its menu and notifications, the black-out key pressed through the input queue, and
// the clipboard. Everything runs on this one thread, the program's UI thread.
#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "app/host/key_names.h"
#include "app/platform/clipboard.h"
#include "app/platform/display.h"
#include "app/platform/hotkey.h"
#include "app/platform/notify.h"
#include "app/platform/tray.h"
#include "app/platform/window.h"
#include "app/platform/win/icon.h"
#include "app/platform/win/notify_field.h"
#include "app/platform/win/window_helper.h"
#include "bridge_contract.h"
#include "tests/win/desktop_hand.h"
#include "tests/win/message_pump.h"

namespace {

bool running_on_wine() {
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

std::wstring raw_clipboard_text() {
  std::wstring text;
  if (!OpenClipboard(nullptr)) return L"<not opened>";
  HANDLE h = GetClipboardData(CF_UNICODETEXT);
  const wchar_t *data = h ? static_cast<const wchar_t *>(GlobalLock(h)) : nullptr;
  if (data) {
    text = data;
    GlobalUnlock(h);
  } else {
    text = L"<none>";
  }
  CloseClipboard();
  return text;
}

void put_raw_clipboard(UINT format, const void *bytes, size_t size) {
  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  if (size) {
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size);
    memcpy(GlobalLock(memory), bytes, size);
    GlobalUnlock(memory);
    EXPECT_TRUE(SetClipboardData(format, memory));
  }
  CloseClipboard();
}

// What the window layer told the host.
struct window_log {
  close_choice on_close = close_hide;
  int close_asks = 0;
  int hidden = 0;
  std::vector<bool> focus;
};
window_log wlog;

close_choice log_close() {
  wlog.close_asks++;
  return wlog.on_close;
}
void log_hidden() { wlog.hidden++; }
void log_focus(bool gained) { wlog.focus.push_back(gained); }

bool last_focus_is(bool gained) { return !wlog.focus.empty() && wlog.focus.back() == gained; }

bool destroyed_flag = false;

LRESULT CALLBACK plain_procedure(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_DESTROY) destroyed_flag = true;
  return DefWindowProcW(w, m, wp, lp);
}

// A top-level window made by someone else, as the web view makes the program's.
HWND make_window(const wchar_t *title) {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = plain_procedure;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"msw-test-window";
  RegisterClassW(&wc);
  return CreateWindowExW(0, wc.lpszClassName, title, WS_OVERLAPPEDWINDOW, 100, 100, 400, 300, nullptr,
                         nullptr, wc.hInstance, nullptr);
}

HWND attached_window() {
  wlog = window_log();
  destroyed_flag = false;
  HWND w = make_window(L"main");
  window_attach(w, window_events{log_close, log_hidden, log_focus});
  return w;
}

// Brings w to the front as a user's click would.
bool activate(HWND w) {
  ShowWindow(w, SW_SHOW);
  SetForegroundWindow(w);
  return pump_until([&] { return GetForegroundWindow() == w; });
}

}  // namespace

TEST(Window, CloseHidesOrStaysWhileTheHostWantsItAndClosesOtherwise) {
  HWND w = attached_window();
  ASSERT_TRUE(activate(w));
  EXPECT_TRUE(pump_until([] { return last_focus_is(true); }));
  EXPECT_TRUE(window_in_front(w));

  size_t told = wlog.focus.size();
  SendMessageW(w, WM_CLOSE, 0, 0);
  EXPECT_EQ(wlog.focus.size(), told);  // the host tells the loss after "hidden"
  EXPECT_EQ(wlog.close_asks, 1);
  EXPECT_EQ(wlog.hidden, 1);
  EXPECT_TRUE(IsWindow(w));
  EXPECT_FALSE(IsWindowVisible(w));
  EXPECT_FALSE(window_in_front(w));

  window_present(w, nullptr);
  EXPECT_TRUE(IsWindowVisible(w));
  EXPECT_TRUE(pump_until([&] { return window_in_front(w) && last_focus_is(true); }));

  // While the host ends the program in its own time, a close changes nothing.
  wlog.on_close = close_keep;
  SendMessageW(w, WM_CLOSE, 0, 0);
  EXPECT_EQ(wlog.hidden, 1);
  EXPECT_TRUE(IsWindowVisible(w));

  wlog.on_close = close_now;
  SendMessageW(w, WM_CLOSE, 0, 0);
  EXPECT_EQ(wlog.hidden, 1);
  EXPECT_FALSE(IsWindow(w));
  EXPECT_TRUE(destroyed_flag);
}

TEST(Window, MinimisingOrAnotherWindowInFrontTakesTheFocusAway) {
  HWND w = attached_window();
  ASSERT_TRUE(activate(w));
  ASSERT_TRUE(pump_until([] { return last_focus_is(true); }));

  ShowWindow(w, SW_MINIMIZE);
  EXPECT_TRUE(pump_until([] { return last_focus_is(false); }));
  EXPECT_TRUE(IsIconic(w));
  EXPECT_FALSE(window_in_front(w));

  window_present(w, nullptr);
  EXPECT_FALSE(IsIconic(w));
  EXPECT_TRUE(pump_until([&] { return window_in_front(w) && last_focus_is(true); }));

  HWND other = make_window(L"another program");
  ASSERT_TRUE(activate(other));
  EXPECT_TRUE(pump_until([] { return last_focus_is(false); }));
  EXPECT_FALSE(window_in_front(w));
  window_request_attention(w);  // flashes the taskbar button of a window behind another

  window_present(w, nullptr);
  EXPECT_TRUE(pump_until([&] { return window_in_front(w); }));
  // A focus change is told once: no repeated "gained" for one activation.
  size_t told = wlog.focus.size();
  pump(200);
  EXPECT_EQ(wlog.focus.size(), told);
  for (size_t i = 1; i < wlog.focus.size(); i++) EXPECT_NE(wlog.focus[i], wlog.focus[i - 1]) << i;

  window_hide(w);
  EXPECT_FALSE(IsWindowVisible(w));
  EXPECT_FALSE(window_in_front(w));
  EXPECT_FALSE(window_in_front(nullptr));
  window_request_attention(nullptr);
  DestroyWindow(other);
  DestroyWindow(w);
}

TEST(Window, RestoredAfterBeingActivatedWhileMinimisedHasTheUserAgain) {
  // A click on the taskbar button of a minimised window activates it while it is still
  // minimised (no user yet), then restores it without another activation.
  HWND w = attached_window();
  ASSERT_TRUE(activate(w));
  ASSERT_TRUE(pump_until([] { return last_focus_is(true); }));
  SendMessageW(w, WM_ACTIVATE, MAKEWPARAM(WA_CLICKACTIVE, 1), 0);
  EXPECT_TRUE(last_focus_is(false));
  SendMessageW(w, WM_SIZE, SIZE_RESTORED, MAKELPARAM(400, 300));
  EXPECT_TRUE(last_focus_is(true));
  SendMessageW(w, WM_SIZE, SIZE_MINIMIZED, 0);
  EXPECT_TRUE(last_focus_is(false));
  DestroyWindow(w);
}

TEST(Window, QuitDestroysEvenAWindowThatHidesOnClose) {
  HWND w = attached_window();
  ASSERT_TRUE(activate(w));
  window_destroy(w);
  EXPECT_TRUE(pump_until([&] { return !IsWindow(w); }));
  EXPECT_TRUE(destroyed_flag);
  EXPECT_EQ(wlog.hidden, 0);
}

namespace {
// A quit that ends the message loop a while after it starts, as the host's does once the
// page has stored what it holds.
bool quit_finished = false;
void CALLBACK finish_quit(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  quit_finished = true;
  PostQuitMessage(7);
}
void start_quit(void) { SetTimer(nullptr, 0, 300, finish_quit); }
}  // namespace

// Windows may end the process once the end of the session is answered: the quit runs to
// its end before that, and the message loop it interrupted still hears that it is over.
TEST(Session, TheSessionsEndIsAnsweredOnlyOnceTheQuitIsDone) {
  display_on_terminate(start_quit);
  HWND session = FindWindowW(L"mosswire-session", nullptr);
  ASSERT_NE(session, nullptr);
  EXPECT_EQ(SendMessageW(session, WM_QUERYENDSESSION, 0, 0), TRUE);
  SendMessageW(session, WM_ENDSESSION, TRUE, 0);
  EXPECT_TRUE(quit_finished);
  MSG m;
  ASSERT_TRUE(PeekMessageW(&m, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(m.wParam, 7u);
}

TEST(Icon, TheProgramsOwnIconAtTheSystemSizesOnTheWindow) {
  HICON big = app_icon(true), small = app_icon(false);
  ASSERT_NE(big, nullptr);
  ASSERT_NE(small, nullptr);
  EXPECT_NE(big, LoadIconW(nullptr, IDI_APPLICATION));
  EXPECT_EQ(app_icon(true), big);  // loaded once

  ICONINFO info = {};
  ASSERT_TRUE(GetIconInfo(big, &info));
  BITMAP bitmap = {};
  GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
  EXPECT_EQ(bitmap.bmWidth, GetSystemMetrics(SM_CXICON));
  // The middle of the disc is moss green.
  HDC dc = GetDC(nullptr);
  BITMAPINFO bi = {};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = bitmap.bmWidth;
  bi.bmiHeader.biHeight = -bitmap.bmHeight;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  std::vector<unsigned char> pixels((size_t)bitmap.bmWidth * bitmap.bmHeight * 4);
  ASSERT_TRUE(GetDIBits(dc, info.hbmColor, 0, bitmap.bmHeight, pixels.data(), &bi, DIB_RGB_COLORS));
  ReleaseDC(nullptr, dc);
  const unsigned char *middle = &pixels[((bitmap.bmHeight / 2) * bitmap.bmWidth + bitmap.bmWidth / 2) * 4];
  EXPECT_EQ(middle[2], 0x3E);  // red
  EXPECT_EQ(middle[1], 0x7B);  // green
  EXPECT_EQ(middle[0], 0x3A);  // blue
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);

  ICONINFO small_info = {};
  ASSERT_TRUE(GetIconInfo(small, &small_info));
  GetObjectW(small_info.hbmColor, sizeof bitmap, &bitmap);
  EXPECT_EQ(bitmap.bmWidth, GetSystemMetrics(SM_CXSMICON));
  DeleteObject(small_info.hbmColor);
  DeleteObject(small_info.hbmMask);

  HWND w = attached_window();
  EXPECT_EQ((HICON)SendMessageW(w, WM_GETICON, ICON_BIG, 0), big);
  EXPECT_EQ((HICON)SendMessageW(w, WM_GETICON, ICON_SMALL, 0), small);
  DestroyWindow(w);
}

namespace {

int opens = 0, quits = 0, balloon_clicks = 0;
void on_open() { opens++; }
void on_quit() { quits++; }
void on_balloon_click() { balloon_clicks++; }
const tray_actions test_tray = {on_open, on_quit};

}  // namespace

TEST(Tray, IconItsClicksAndItsMenu) {
  ASSERT_TRUE(tray_add(test_tray));
  EXPECT_TRUE(tray_present());
  EXPECT_TRUE(shell_has_icon());
  EXPECT_TRUE(tray_add(test_tray));  // already there: still one icon, still true

  tray_event(WM_LBUTTONUP);
  EXPECT_EQ(opens, 1);
  tray_event(WM_MOUSEMOVE);
  EXPECT_EQ(opens, 1);
  EXPECT_EQ(quits, 0);

  // Down once from the top is "Open mosswire"; up once wraps to "Quit mosswire".
  menu_seen menu;
  std::thread hand = choose_menu_item(VK_DOWN, 1, &menu);
  tray_event(WM_RBUTTONUP);
  hand.join();
  EXPECT_EQ(menu.items, L"Open mosswire|-|Quit mosswire|");
  EXPECT_EQ(menu.default_command, 1);  // Open, shown bold
  EXPECT_EQ(opens, 2);
  EXPECT_EQ(quits, 0);
  hand = choose_menu_item(VK_UP, 1);
  tray_event(WM_CONTEXTMENU);
  hand.join();
  EXPECT_EQ(opens, 2);
  EXPECT_EQ(quits, 1);
}

TEST(Tray, ComesBackWhenTheShellRestartsUnlessRemoved) {
  ASSERT_TRUE(tray_add(test_tray));
  // The shell forgets the icon, as a restarted Explorer has, and announces its taskbar.
  NOTIFYICONDATAW record = {};
  record.cbSize = sizeof record;
  record.hWnd = helper_window();
  record.uID = 1;
  ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &record));
  ASSERT_FALSE(shell_has_icon());
  UINT taskbar_created = RegisterWindowMessageW(L"TaskbarCreated");
  SendMessageW(helper_window(), taskbar_created, 0, 0);
  EXPECT_TRUE(shell_has_icon());
  EXPECT_TRUE(tray_present());

  tray_remove();
  EXPECT_FALSE(tray_present());
  EXPECT_FALSE(shell_has_icon());
  SendMessageW(helper_window(), taskbar_created, 0, 0);
  EXPECT_FALSE(shell_has_icon());
  EXPECT_FALSE(tray_present());
}

TEST(Notification, ShownFromTheTrayIconAndItsClickCallsBack) {
  tray_remove();
  EXPECT_FALSE(notification_show("Ann", "hello", nullptr, on_balloon_click));

  ASSERT_TRUE(tray_add(test_tray));
  EXPECT_TRUE(notification_show("Ann", "hello \xf0\x9f\x98\x80", nullptr, on_balloon_click));
  int before = opens;
  tray_event(NIN_BALLOONUSERCLICK);
  EXPECT_EQ(balloon_clicks, 1);
  EXPECT_EQ(opens, before);
  // Only the title: shown as the text, since a notification without text shows nothing.
  EXPECT_TRUE(notification_show("Ann", "", nullptr, on_balloon_click));
  EXPECT_FALSE(notification_show("", "", nullptr, on_balloon_click));
  // The icon is still the tray's after a notification: a click opens.
  tray_event(WM_LBUTTONUP);
  EXPECT_EQ(opens, before + 1);
  EXPECT_TRUE(shell_has_icon());
  tray_remove();
}

TEST(NotificationText, FitsItsFieldAndNeverSplitsACharacter) {
  std::string ascii63(63, 'a'), ascii64(64, 'a');
  EXPECT_EQ(notification_text(ascii63.c_str(), 64).size(), 63u);
  EXPECT_EQ(notification_text(ascii64.c_str(), 64), std::wstring(63, L'a'));
  // 62 letters and an emoji are 64 units: the emoji's pair would be cut, so it goes whole.
  std::string emoji_end = std::string(62, 'a') + "\xf0\x9f\x98\x80";
  EXPECT_EQ(notification_text(emoji_end.c_str(), 64), std::wstring(62, L'a'));
  std::string emoji_fits = std::string(61, 'a') + "\xf0\x9f\x98\x80";
  std::wstring fitted = notification_text(emoji_fits.c_str(), 64);
  ASSERT_EQ(fitted.size(), 63u);
  EXPECT_EQ(fitted[61], 0xD83D);
  EXPECT_EQ(fitted[62], 0xDE00);
  EXPECT_EQ(notification_text("a\xff", 64), std::wstring(L"a\xFFFD"));
  EXPECT_EQ(notification_text(nullptr, 64), L"");
  std::string body160(160, 'b');
  EXPECT_EQ(notification_text(body160.c_str(), 256).size(), 160u);

  std::wstring heading, text;
  ASSERT_TRUE(notification_texts("Ann", "hi \xf0\x9f\x98\x80", &heading, &text));
  EXPECT_EQ(heading, L"Ann");
  EXPECT_EQ(text, L"hi \xD83D\xDE00");
  // A title alone (or with text that did not fit) is shown as the text.
  ASSERT_TRUE(notification_texts("Ann", "", &heading, &text));
  EXPECT_EQ(heading, L"");
  EXPECT_EQ(text, L"Ann");
  ASSERT_TRUE(notification_texts("", "hello", &heading, &text));
  EXPECT_EQ(heading, L"");
  EXPECT_EQ(text, L"hello");
  EXPECT_FALSE(notification_texts("", "", &heading, &text));
  // A title too long for its field still shows whole as the text when there is no text.
  std::string long_title(100, 't');
  ASSERT_TRUE(notification_texts(long_title.c_str(), nullptr, &heading, &text));
  EXPECT_EQ(text.size(), 100u);
}

namespace {

int presses = 0;
void on_blackout() { presses++; }

// Registers the black-out key; the Windows layer must answer before returning, once.
bool register_now(int code) {
  struct seen_answers {
    int count = 0;
    bool registered = false;
  } seen;
  hotkey_register(code, on_blackout, [](bool registered, void *data) {
    auto *s = static_cast<seen_answers *>(data);
    s->count++;
    s->registered = registered;
  }, &seen);
  EXPECT_EQ(seen.count, 1);
  return seen.registered;
}

}  // namespace

TEST(Hotkey, APressReachesTheCallbackOnceAndRebindingMovesIt) {
  ASSERT_TRUE(register_now(VK_F9));
  EXPECT_FALSE(key_free(VK_F9));
  tap(VK_F9);
  EXPECT_TRUE(pump_until([] { return presses == 1; }));
  pump(500);

  // Held down: the keyboard repeats the press, the key counts once. (Wine sends a hot key
  // message for every repeat despite MOD_NOREPEAT; the layer's own check holds there too.)
  key(VK_F9, true);
  key(VK_F9, true);
  key(VK_F9, true);
  pump(300);
  key(VK_F9, true);
  pump(100);
  key(VK_F9, false);
  pump(500);  // the release is seen within a few checks
  EXPECT_EQ(presses, 2);
  tap(VK_F9);
  EXPECT_TRUE(pump_until([] { return presses == 3; }));
  pump(200);

  ASSERT_TRUE(register_now('B'));
  EXPECT_TRUE(key_free(VK_F9));
  tap(VK_F9);
  pump(300);
  EXPECT_EQ(presses, 3);
  tap('B');
  EXPECT_TRUE(pump_until([] { return presses == 4; }));

  hotkey_unregister();
  EXPECT_TRUE(key_free('B'));
  tap('B');
  pump(300);
  EXPECT_EQ(presses, 4);
}

TEST(Hotkey, AKeyAnotherProgramHoldsIsRefusedAndTheOldKeyIsLetGo) {
  // The other holder: a thread of its own, as hot keys belong to the thread that took them.
  HANDLE taken = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<bool> holder_got_it{false};
  std::thread holder([&] {
    holder_got_it = RegisterHotKey(nullptr, 5, MOD_NOREPEAT, VK_F8);
    SetEvent(taken);
    WaitForSingleObject(done, 10000);
    UnregisterHotKey(nullptr, 5);
  });
  WaitForSingleObject(taken, 10000);
  ASSERT_TRUE(holder_got_it);

  ASSERT_TRUE(register_now(VK_F9));
  EXPECT_FALSE(register_now(VK_F8));
  EXPECT_TRUE(key_free(VK_F9));  // the refused call still let the old key go
  int before = presses;
  tap(VK_F9);
  pump(300);
  EXPECT_EQ(presses, before);
  EXPECT_FALSE(register_now(0));
  EXPECT_FALSE(register_now(0x1FF));

  SetEvent(done);
  holder.join();
  CloseHandle(taken);
  CloseHandle(done);
}

TEST(Hotkey, EveryKeyNameOfTheContractRegistersAndItsPressArrives) {
  for (const contract_key &k : contract_keys) {
    int code = blackout_key_code(k.name);
    ASSERT_NE(code, 0) << k.name;
    EXPECT_TRUE(register_now(code)) << k.name;
  }
  for (const char *name : {"KeyB", "Digit3", "F24", "Escape", "ScrollLock", "Tab", "ArrowDown"}) {
    ASSERT_TRUE(register_now(blackout_key_code(name))) << name;
    int before = presses;
    tap((WORD)blackout_key_code(name));
    EXPECT_TRUE(pump_until([&] { return presses == before + 1; })) << name;
    pump(100);  // the key is seen up again before the next one
  }
  hotkey_unregister();
}

TEST(Clipboard, TextRoundTripsWithCharactersOutsideTheBasicPlane) {
  const char *text = "caf\xc3\xa9 \xf0\x9f\x98\x80 \xf0\x9d\x84\x9e end";  // café 😀 𝄞 end
  clipboard_set_text(text);
  EXPECT_EQ(raw_clipboard_text(), std::wstring(L"caf\u00e9 \xD83D\xDE00 \xD834\xDD1E end"));
  std::string back;
  ASSERT_TRUE(clipboard_get_text(&back));
  EXPECT_EQ(back, text);

  // Text another program put there, and bad bytes repaired on the way in.
  const wchar_t other[] = L"x\xD83D\xDE00y";
  put_raw_clipboard(CF_UNICODETEXT, other, sizeof other);
  ASSERT_TRUE(clipboard_get_text(&back));
  EXPECT_EQ(back, "x\xf0\x9f\x98\x80y");
  clipboard_set_text("a\xff");
  EXPECT_EQ(raw_clipboard_text(), std::wstring(L"a\xFFFD"));

  // A block without a terminator, followed in memory by more text: only the block is read.
  wchar_t block[8] = L"abcdefg";
  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, 3 * sizeof(wchar_t));
  ASSERT_NE(memory, nullptr);
  size_t room = GlobalSize(memory) / sizeof(wchar_t);  // the system may round the size up
  ASSERT_GE(room, 3u);
  ASSERT_LT(room, 8u);
  memcpy(GlobalLock(memory), block, room * sizeof(wchar_t));
  GlobalUnlock(memory);
  ASSERT_TRUE(SetClipboardData(CF_UNICODETEXT, memory));
  CloseClipboard();
  ASSERT_TRUE(clipboard_get_text(&back));
  // Wine puts a terminator in the block's last unit when the text is set; Windows keeps
  // the block as given.
  size_t kept = running_on_wine() ? room - 1 : room;
  EXPECT_EQ(back, std::string("abcdefg", kept));
}

TEST(Clipboard, NoTextMeansNoAnswer) {
  std::string out = "unchanged";
  put_raw_clipboard(CF_UNICODETEXT, nullptr, 0);
  EXPECT_FALSE(clipboard_get_text(&out));
  const wchar_t empty[] = L"";
  put_raw_clipboard(CF_UNICODETEXT, empty, sizeof empty);
  EXPECT_FALSE(clipboard_get_text(&out));
  // Only an image: a 1x1 bitmap.
  struct {
    BITMAPINFOHEADER header;
    DWORD pixel;
  } dib = {};
  dib.header.biSize = sizeof dib.header;
  dib.header.biWidth = 1;
  dib.header.biHeight = 1;
  dib.header.biPlanes = 1;
  dib.header.biBitCount = 32;
  dib.pixel = 0x00FF00FF;
  put_raw_clipboard(CF_DIB, &dib, sizeof dib);
  EXPECT_FALSE(clipboard_get_text(&out));
}

TEST(Clipboard, HeldOpenElsewhereLeavesItAsItWas) {
  clipboard_set_text("before");
  HANDLE opened = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread holder([&] {
    HWND w = CreateWindowExW(0, L"STATIC", L"holder", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    BOOL ok = OpenClipboard(w);
    SetEvent(opened);
    WaitForSingleObject(release, 10000);
    if (ok) CloseClipboard();
    DestroyWindow(w);
  });
  WaitForSingleObject(opened, 10000);
  clipboard_set_text("after");
  std::string out;
  EXPECT_FALSE(clipboard_get_text(&out));
  SetEvent(release);
  holder.join();
  ASSERT_TRUE(clipboard_get_text(&out));
  EXPECT_EQ(out, "before");
  CloseHandle(opened);
  CloseHandle(release);
}
