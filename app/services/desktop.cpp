#include "app/services/desktop.h"

#include <stdlib.h>
#include <string.h>

#include "app/common/utf8.h"
#include "app/platform/autostart.h"
#include "app/platform/clipboard.h"
#include "app/platform/notify.h"
#include "app/platform/window.h"
#include "app/services/call.h"
#include "app/services/host_link.h"

// Counts UTF-16 units of the repaired text: a four-byte sequence (outside the basic plane)
// takes two, every other sequence one.
std::string notification_field(const char *text, size_t room) {
  std::string valid = utf8_repair(text);
  size_t units = 0;
  for (unsigned char c : valid) {
    if ((c & 0xC0) == 0x80) continue;  // continuation byte
    units += c >= 0xF0 ? 2 : 1;
  }
  return units + 1 <= room ? valid : "";
}

namespace {

// The desktop may ask the person before it hands out a key: the call is answered then.
void answer_set_panic(bool registered, void *call_id) {
  reply_bool(static_cast<const char *>(call_id), registered);
  free(call_id);
}

}  // namespace

void msw_set_panic(const char *id, const char *args, void *) {
  std::string code;
  if (arg_text(args, 0, &code) && arg_bool(args, 1)) {
    char *call_id = strdup(id);
    if (call_id) return the_host().set_blackout_key(code.c_str(), the_host().raise_panic, answer_set_panic, call_id);
  }
  the_host().set_blackout_key(nullptr, nullptr, nullptr, nullptr);
  reply_bool(id, false);
}

void msw_attention(const char *id, const char *, void *) {
  window_request_attention(the_host().main_window());
  reply_null(id);
}

void msw_title(const char *id, const char *args, void *) {
  std::string title;
  // A lone surrogate escape decodes to bytes that are not UTF-8; the window system wants
  // valid text.
  if (arg_text(args, 0, &title)) the_host().set_title(utf8_repair(title.c_str()).c_str());
  reply_null(id);
}

void msw_copy(const char *id, const char *args, void *) {
  std::string text;
  if (arg_text(args, 0, &text)) clipboard_set_text(text.c_str());
  reply_null(id);
}

void msw_paste(const char *id, const char *, void *) {
  std::string text;
  if (!clipboard_get_text(&text)) return reply_null(id);
  reply_string(id, text.data(), text.size());
}

void msw_startup(const char *id, const char *args, void *) {
  reply_bool(id, set_run_at_login(arg_bool(args, 0)));
}

void msw_focused(const char *id, const char *, void *) {
  reply_bool(id, window_in_front(the_host().main_window()));
}

// Notifications need no set-up on this desktop.
void msw_notify_setup(const char *id, const char *, void *) { reply_null(id); }

void msw_notify(const char *id, const char *args, void *) {
  std::string title, body;
  void *window = the_host().main_window();
  if (arg_text(args, 0, &title) && arg_text(args, 1, &body) && window) {
    // The tray icon is how a hidden window comes back; make sure it is there. The
    // notification itself does not depend on it here.
    the_host().add_tray_icon();
    notification_show(notification_field(title.c_str(), 64).c_str(),
                      notification_field(body.c_str(), 256).c_str(), window,
                      the_host().show_window);
  }
  reply_null(id);
}
