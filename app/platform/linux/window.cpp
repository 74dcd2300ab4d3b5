#include "app/platform/window.h"

#include <gtk/gtk.h>
#ifdef GDK_WINDOWING_X11
#include <gdk/gdkx.h>
#endif

#include "app/platform/linux/icon.h"

namespace {

// The main window's state, UI thread only: what the host wants told, and the last focus
// state told to it (-1 unknown), so a change is told once.
struct window_state {
  window_events events = {nullptr, nullptr, nullptr};
  int last_focus = -1;
};

window_state main_window;

bool has_user(GtkWindow *w) {
  GdkWindow *gdk = gtk_widget_get_window(GTK_WIDGET(w));
  bool minimised = gdk && (gdk_window_get_state(gdk) & GDK_WINDOW_STATE_ICONIFIED);
  return gtk_widget_get_visible(GTK_WIDGET(w)) && gtk_window_is_active(w) && !minimised;
}

void tell_focus(GtkWindow *w) {
  int now = has_user(w) ? 1 : 0;
  if (now == main_window.last_focus) return;
  main_window.last_focus = now;
  if (main_window.events.focus) main_window.events.focus(now == 1);
}

gboolean on_delete(GtkWidget *w, GdkEvent *, gpointer) {
  close_choice choice = main_window.events.close ? main_window.events.close() : close_now;
  if (choice == close_now) return FALSE;  // really close
  if (choice == close_keep) return TRUE;
  gtk_widget_hide(w);
  main_window.last_focus = 0;
  if (main_window.events.hidden) main_window.events.hidden();
  return TRUE;
}

void on_active(GObject *w, GParamSpec *, gpointer) { tell_focus(GTK_WINDOW(w)); }

gboolean on_state(GtkWidget *w, GdkEventWindowState *e, gpointer) {
  if (e->changed_mask & GDK_WINDOW_STATE_ICONIFIED) tell_focus(GTK_WINDOW(w));
  return FALSE;
}

void set_icons(GtkWindow *w) {
  GList *list = nullptr;
  for (int size : {16, 32, 48, 64, 128}) {
    GdkPixbuf *pb = app_icon_pixbuf(size);
    if (pb) list = g_list_append(list, pb);
  }
  if (list)
    gtk_window_set_icon_list(w, list);
  else
    gtk_window_set_icon_name(w, "application-x-executable");
  g_list_free_full(list, g_object_unref);
}

}  // namespace

void window_attach(void *window, const window_events &e) {
  GtkWindow *w = GTK_WINDOW(window);
  main_window.events = e;
  set_icons(w);
  g_signal_connect(w, "delete-event", G_CALLBACK(on_delete), nullptr);
  g_signal_connect(w, "notify::is-active", G_CALLBACK(on_active), nullptr);
  g_signal_connect(w, "window-state-event", G_CALLBACK(on_state), nullptr);
}

void window_present(void *window, const char *startup_id) {
  GtkWindow *w = GTK_WINDOW(window);
  if (startup_id && *startup_id) gtk_window_set_startup_id(w, startup_id);
  gtk_window_deiconify(w);
  guint32 stamp = GDK_CURRENT_TIME;
#ifdef GDK_WINDOWING_X11
  GdkWindow *gdk = gtk_widget_get_window(GTK_WIDGET(w));
  if (gdk && GDK_IS_X11_WINDOW(gdk)) stamp = gdk_x11_get_server_time(gdk);
#endif
  gtk_window_present_with_time(w, stamp);  // shows a hidden window too
}

void window_hide(void *window) { gtk_widget_hide(GTK_WIDGET(window)); }

void window_destroy(void *window) { gtk_widget_destroy(GTK_WIDGET(window)); }
