#include "app/platform/win/notify_field.h"

#include "app/platform/win/wide.h"

std::wstring notification_text(const char *utf8, size_t room) {
  std::wstring text = widen(utf8 ? utf8 : "");
  if (room == 0) return L"";
  if (text.size() <= room - 1) return text;
  size_t keep = room - 1;
  if (keep > 0 && text[keep - 1] >= 0xD800 && text[keep - 1] <= 0xDBFF) keep--;  // a lone high half
  text.resize(keep);
  return text;
}

bool notification_texts(const char *title, const char *body, std::wstring *heading, std::wstring *text) {
  *heading = notification_text(title, notification_title_room);
  *text = notification_text(body, notification_body_room);
  if (text->empty()) {
    *text = notification_text(title, notification_body_room);
    heading->clear();
  }
  return !text->empty();
}
