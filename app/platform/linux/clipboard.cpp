#include "app/platform/linux/clipboard.h"

#include <gtk/gtk.h>

void clipboard_set_text(const char *text) {
  GtkClipboard *clipboard = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
  if (!clipboard) return;
  gchar *valid = g_utf8_make_valid(text, -1);
  gtk_clipboard_set_text(clipboard, valid, -1);
  // Keep the text available after the program quits where a clipboard manager runs.
  gtk_clipboard_set_can_store(clipboard, nullptr, 0);
  g_free(valid);
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
