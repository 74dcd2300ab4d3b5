#include "app/platform/notify.h"

#include <windows.h>

#include "app/platform/win/icon.h"
#include "app/platform/win/notify_field.h"
#include "app/platform/win/tray_balloon.h"

// The shell's notification fields: 64 units of title and 256 of text, terminators included.
constexpr size_t title_room = 64;
constexpr size_t body_room = 256;

bool notification_show(const char *title, const char *body, void *, void (*on_click)(void)) {
  std::wstring heading = notification_text(title, title_room);
  std::wstring text = notification_text(body, body_room);
  // A notification without text is not shown at all: the title stands in for it.
  if (text.empty()) text.swap(heading);
  if (text.empty()) return false;
  return tray_show_balloon(heading.c_str(), text.c_str(), app_icon(true), on_click);
}
