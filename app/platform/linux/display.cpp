#include "app/platform/display.h"

#include <glib-unix.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <stdio.h>

namespace {
bool display_ready = false;
}

bool display_open(int *argc, char ***argv) {
  display_ready = gtk_init_check(argc, argv);
  return display_ready;
}

void display_error(const char *text) {
  fprintf(stderr, "%s\n", text);
  if (!display_ready) return;
  GtkWidget *dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR, GTK_BUTTONS_OK, "%s", text);
  gtk_window_set_title(GTK_WINDOW(dialog), "mosswire");
  gtk_dialog_run(GTK_DIALOG(dialog));
  gtk_widget_destroy(dialog);
}

namespace {
void (*terminate_action)(void) = nullptr;

gboolean on_terminate_signal(gpointer) {
  if (terminate_action) terminate_action();
  return G_SOURCE_CONTINUE;
}
}  // namespace

void display_on_terminate(void (*quit)(void)) {
  terminate_action = quit;
  const int signals[] = {SIGTERM, SIGINT, SIGHUP};
  for (int sig : signals) g_unix_signal_add(sig, on_terminate_signal, nullptr);
}
