#include "app/platform/display.h"

#include <glib-unix.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <stdio.h>

namespace {

// Start-up's desktop state, UI thread only: whether GTK has a display (so an error can
// also be a dialog), and what a termination signal does.
struct display_state {
  bool ready = false;
  void (*terminate_action)(void) = nullptr;
};

display_state session;

}  // namespace

bool display_open(int *argc, char ***argv) {
  session.ready = gtk_init_check(argc, argv);
  return session.ready;
}

void display_error(const char *text) {
  fprintf(stderr, "%s\n", text);
  if (!session.ready) return;
  GtkWidget *dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR, GTK_BUTTONS_OK, "%s", text);
  gtk_window_set_title(GTK_WINDOW(dialog), "mosswire");
  gtk_dialog_run(GTK_DIALOG(dialog));
  gtk_widget_destroy(dialog);
}

namespace {

gboolean on_terminate_signal(gpointer) {
  if (session.terminate_action) session.terminate_action();
  return G_SOURCE_CONTINUE;
}
}  // namespace

void display_on_terminate(void (*quit)(void)) {
  session.terminate_action = quit;
  const int signals[] = {SIGTERM, SIGINT, SIGHUP};
  for (int sig : signals) g_unix_signal_add(sig, on_terminate_signal, nullptr);
}
