#include "app/platform/clipboard.h"

#include <gtk/gtk.h>

#include "app/common/utf8.h"

void clipboard_set_text(const char *text) {
  GtkClipboard *clipboard = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
  if (!clipboard) return;
  std::string valid = utf8_repair(text);
  gtk_clipboard_set_text(clipboard, valid.c_str(), -1);
  // Keep the text available after the program quits where a clipboard manager runs.
  gtk_clipboard_set_can_store(clipboard, nullptr, 0);
}

bool clipboard_get_text(std::string *out) {
  GtkClipboard *clipboard = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
  if (!clipboard) return false;
  // Runs a nested main loop until the owner answers (GTK gives up after a while).
  gchar *text = gtk_clipboard_wait_for_text(clipboard);
  if (!text) return false;
  out->assign(text);
  g_free(text);
  return true;
}
