#include "app/platform/notify.h"

#include <windows.h>

#include "app/platform/win/icon.h"
#include "app/platform/win/notify_field.h"
#include "app/platform/win/tray_balloon.h"

bool notification_show(const char *title, const char *body, void *, void (*on_click)(void)) {
  std::wstring heading, text;
  if (!notification_texts(title, body, &heading, &text)) return false;
  return tray_show_balloon(heading.c_str(), text.c_str(), app_icon(true), on_click);
}
