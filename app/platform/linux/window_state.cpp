#include "app/platform/window.h"

#include <gtk/gtk.h>

static void clear_urgency(GtkWindow *window, GParamSpec *, gpointer) {
  if (gtk_window_is_active(window)) gtk_window_set_urgency_hint(window, FALSE);
}

void window_request_attention(void *w) {
  if (!w) return;
  GtkWindow *window = GTK_WINDOW(w);
  // Like a taskbar flash that stops once the window comes to the front: the hint stays
  // until the window is active, and is never set on a window the user is already using.
  if (!g_object_get_data(G_OBJECT(window), "msw-urgency-watch")) {
    g_signal_connect(window, "notify::is-active", G_CALLBACK(clear_urgency), nullptr);
    g_object_set_data(G_OBJECT(window), "msw-urgency-watch", GINT_TO_POINTER(1));
  }
  if (!gtk_window_is_active(window)) gtk_window_set_urgency_hint(window, TRUE);
}

bool window_in_front(void *w) {
  if (!w) return false;
  GtkWindow *window = GTK_WINDOW(w);
  if (!gtk_widget_get_visible(GTK_WIDGET(window))) return false;
  GdkWindow *gdk = gtk_widget_get_window(GTK_WIDGET(window));
  if (!gdk || (gdk_window_get_state(gdk) & GDK_WINDOW_STATE_ICONIFIED)) return false;
  return gtk_window_is_active(window);
}
