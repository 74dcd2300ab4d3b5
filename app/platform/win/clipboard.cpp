#include "app/platform/clipboard.h"

#include <windows.h>
#include <string.h>
#include <wchar.h>

#include "app/platform/win/wide.h"
#include "app/platform/win/window_helper.h"

namespace {

// Another program (a clipboard viewer, a remote desktop) may hold the clipboard open for a
// moment: a few short tries before giving up.
bool open_clipboard(void) {
  HWND owner = helper_window();
  for (int attempt = 0; attempt < 5; attempt++) {
    if (OpenClipboard(owner)) return true;
    Sleep(10);
  }
  return false;
}

}  // namespace

void clipboard_set_text(const char *text) {
  // widen repairs bad UTF-8 with U+FFFD; characters outside the basic plane become pairs.
  std::wstring wide = widen(text ? text : "");
  size_t bytes = (wide.size() + 1) * sizeof(wchar_t);
  // The copy is made before the clipboard is emptied, so a failure leaves what was there.
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
  void *data = memory ? GlobalLock(memory) : nullptr;
  if (!data) {
    if (memory) GlobalFree(memory);
    return;
  }
  memcpy(data, wide.c_str(), bytes);
  GlobalUnlock(memory);
  if (!open_clipboard()) {
    GlobalFree(memory);
    return;
  }
  EmptyClipboard();
  // On success the clipboard owns the memory.
  if (!SetClipboardData(CF_UNICODETEXT, memory)) GlobalFree(memory);
  CloseClipboard();
}

bool clipboard_get_text(std::string *out) {
  if (!open_clipboard()) return false;
  bool found = false;
  HANDLE memory = GetClipboardData(CF_UNICODETEXT);
  const wchar_t *data = memory ? static_cast<const wchar_t *>(GlobalLock(memory)) : nullptr;
  if (data) {
    // Another program's block need not end in a terminator: never read past it.
    size_t units = GlobalSize(memory) / sizeof(wchar_t);
    std::wstring text(data, wcsnlen(data, units));
    GlobalUnlock(memory);
    *out = narrow(text);
    found = !out->empty();
  }
  CloseClipboard();
  return found;
}
