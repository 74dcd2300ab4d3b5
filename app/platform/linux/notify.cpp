#include "app/platform/notify.h"

#include <gtk/gtk.h>
#include <libnotify/notify.h>

#include "app/platform/log.h"

static void clicked(NotifyNotification *, char *, gpointer data) {
  ((void (*)(void))data)();
}

static void closed(NotifyNotification *n, gpointer) { g_object_unref(n); }

bool notification_show(const char *title, const char *body, void *window,
                       void (*on_click)(void)) {
  if (!notify_is_initted() && !notify_init("mosswire")) {
    log_failure("notifications", "libnotify could not start");
    return false;
  }
  // A notification with an empty title shows its body as the title instead.
  const char *summary = title[0] ? title : body;
  const char *text = title[0] ? body : "";
  if (!summary[0]) return false;
  NotifyNotification *n = notify_notification_new(summary, text[0] ? text : nullptr, nullptr);
  notify_notification_set_app_name(n, "mosswire");
  notify_notification_set_category(n, "im.received");
  // The program's own icon, as the window shows it, at its largest size.
  if (window) {
    GList *icons = gtk_window_get_icon_list(GTK_WINDOW(window));
    GdkPixbuf *largest = nullptr;
    for (GList *i = icons; i; i = i->next)
      if (!largest || gdk_pixbuf_get_width(GDK_PIXBUF(i->data)) > gdk_pixbuf_get_width(largest))
        largest = GDK_PIXBUF(i->data);
    if (!largest) largest = gtk_window_get_icon(GTK_WINDOW(window));
    if (largest) notify_notification_set_image_from_pixbuf(n, largest);
    g_list_free(icons);
  }
  // The "default" action is the click on the notification itself. The object stays
  // alive until the server says it closed, so a late click still arrives.
  if (on_click)
    notify_notification_add_action(n, "default", "Open mosswire", clicked, (gpointer)on_click,
                                   nullptr);
  g_signal_connect(n, "closed", G_CALLBACK(closed), nullptr);
  GError *error = nullptr;
  if (!notify_notification_show(n, &error)) {
    // The reason only: the texts are message text.
    log_failure("notifications", "not shown: %s", error ? error->message : "no server");
    if (error) g_error_free(error);
    g_object_unref(n);
    return false;
  }
  return true;
}
