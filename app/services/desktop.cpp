#include "app/services/desktop.h"

#include <glib.h>

#include "app/host/host.h"
#include "app/platform/linux/autostart.h"
#include "app/platform/linux/clipboard.h"
#include "app/platform/linux/desktop.h"
#include "app/platform/linux/notify.h"
#include "app/services/call.h"

std::string notification_field(const char *text, size_t room) {
  gchar *valid = g_utf8_make_valid(text, -1);
  size_t units = 0;
  for (const gchar *p = valid; *p; p = g_utf8_next_char(p))
    units += g_utf8_get_char(p) >= 0x10000 ? 2 : 1;
  std::string field = units + 1 <= room ? valid : "";
  g_free(valid);
  return field;
}

void msw_set_panic(const char *id, const char *args, void *) {
  std::string code;
  if (arg_text(args, 0, &code) && arg_bool(args, 1))
    return reply_bool(id, host_set_blackout_key(code.c_str(), host_raise_panic));
  host_set_blackout_key(nullptr, nullptr);
  reply_bool(id, false);
}

void msw_attention(const char *id, const char *, void *) {
  window_request_attention(host_main_window());
  reply_null(id);
}

void msw_title(const char *id, const char *args, void *) {
  std::string title;
  if (arg_text(args, 0, &title)) {
    // A lone surrogate escape decodes to bytes that are not UTF-8; the window system
    // wants valid text.
    gchar *valid = g_utf8_make_valid(title.c_str(), -1);
    host_set_title(valid);
    g_free(valid);
  }
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
  reply_bool(id, window_in_front(host_main_window()));
}

// Notifications need no set-up on this desktop.
void msw_notify_setup(const char *id, const char *, void *) { reply_null(id); }

void msw_notify(const char *id, const char *args, void *) {
  std::string title, body;
  if (arg_text(args, 0, &title) && arg_text(args, 1, &body) && host_main_window()) {
    // The tray icon is how a hidden window comes back; make sure it is there. The
    // notification itself does not depend on it here.
    host_add_tray_icon();
    notification_show(notification_field(title.c_str(), 64).c_str(),
                      notification_field(body.c_str(), 256).c_str(), host_main_window(),
                      host_show_window);
  }
  reply_null(id);
}
