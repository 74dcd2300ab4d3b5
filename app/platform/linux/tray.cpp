#include "app/platform/tray.h"

#include <gtk/gtk.h>
#include <libayatana-appindicator/app-indicator.h>
#ifdef GDK_WINDOWING_X11
#include <gdk/gdkx.h>
#endif

#include "app/platform/linux/icon.h"
#include "app/platform/log.h"

namespace {

// The tray icon's state, UI thread only: the indicator and its menu while the icon is
// added, what the menu's items do, and whether a tray host shows the icon now.
struct tray_state {
  AppIndicator *indicator = nullptr;
  GtkWidget *menu = nullptr;
  tray_actions actions = {nullptr, nullptr};
  bool shown = false;
};

tray_state tray;

void on_open(GtkMenuItem *, gpointer) {
  if (tray.actions.open) tray.actions.open();
}

void on_quit(GtkMenuItem *, gpointer) {
  if (tray.actions.quit) tray.actions.quit();
}

void on_connection_changed(AppIndicator *, gboolean connected, gpointer) { tray.shown = connected; }

// The session bus, fetched before the indicator exists and kept: the indicator then
// finds the shared connection ready instead of racing its own asynchronous fetch of it.
GDBusConnection *session_bus() {
  static GDBusConnection *bus = nullptr;
  static bool tried = false;
  if (!tried) {
    tried = true;
    GError *error = nullptr;
    bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (error) log_failure("tray", "no session bus: %s", error->message);
    g_clear_error(&error);
  }
  return bus;
}

bool watcher_present() {
  GError *error = nullptr;
  GDBusConnection *bus = session_bus();
  if (!bus) return false;
  GVariant *reply = g_dbus_connection_call_sync(
      bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
      g_variant_new("(s)", "org.kde.StatusNotifierWatcher"), G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, 2000,
      nullptr, &error);
  if (!reply) {
    g_clear_error(&error);
    return false;
  }
  gboolean owned = FALSE;
  g_variant_get(reply, "(b)", &owned);
  g_variant_unref(reply);
  return owned;
}

// The legacy tray (XEmbed) that the indicator falls back to when no watcher runs.
bool x_tray_present() {
#ifdef GDK_WINDOWING_X11
  GdkDisplay *display = gdk_display_get_default();
  if (!display || !GDK_IS_X11_DISPLAY(display)) return false;
  Display *x = GDK_DISPLAY_XDISPLAY(display);
  char name[64];
  g_snprintf(name, sizeof name, "_NET_SYSTEM_TRAY_S%d", DefaultScreen(x));
  Atom selection = XInternAtom(x, name, False);
  return XGetSelectionOwner(x, selection) != None;
#else
  return false;
#endif
}

}  // namespace

bool tray_add(const tray_actions &a) {
  tray.actions = a;
  if (tray.indicator) return tray_present();
  bool host = watcher_present() || x_tray_present();
  std::string icon_dir, icon_name;
  bool have_icon = app_icon_file(&icon_dir, &icon_name);
  tray.indicator = app_indicator_new("mosswire", have_icon ? icon_name.c_str() : "internet-chat",
                                APP_INDICATOR_CATEGORY_COMMUNICATIONS);
  if (!tray.indicator) return false;
  if (have_icon) app_indicator_set_icon_theme_path(tray.indicator, icon_dir.c_str());
  app_indicator_set_title(tray.indicator, "mosswire");

  tray.menu = gtk_menu_new();
  g_object_ref_sink(tray.menu);
  GtkWidget *open = gtk_menu_item_new_with_label("Open mosswire");
  GtkWidget *quit = gtk_menu_item_new_with_label("Quit mosswire");
  g_signal_connect(open, "activate", G_CALLBACK(on_open), nullptr);
  g_signal_connect(quit, "activate", G_CALLBACK(on_quit), nullptr);
  gtk_menu_shell_append(GTK_MENU_SHELL(tray.menu), open);
  gtk_menu_shell_append(GTK_MENU_SHELL(tray.menu), gtk_separator_menu_item_new());
  gtk_menu_shell_append(GTK_MENU_SHELL(tray.menu), quit);
  gtk_widget_show_all(tray.menu);
  app_indicator_set_menu(tray.indicator, GTK_MENU(tray.menu));
  // Open is the default item: the tray host activates it on the icon's secondary click.
  app_indicator_set_secondary_activate_target(tray.indicator, open);
  g_signal_connect(tray.indicator, "connection-changed", G_CALLBACK(on_connection_changed), nullptr);
  app_indicator_set_status(tray.indicator, APP_INDICATOR_STATUS_ACTIVE);
  tray.shown = host;
  return tray.shown;
}

void tray_remove(void) {
  if (!tray.indicator) return;
  app_indicator_set_status(tray.indicator, APP_INDICATOR_STATUS_PASSIVE);
  g_object_unref(tray.indicator);
  tray.indicator = nullptr;
  if (tray.menu) {
    gtk_widget_destroy(tray.menu);
    g_object_unref(tray.menu);
    tray.menu = nullptr;
  }
  tray.shown = false;
}

// Asked of the session each time: a tray host that restarted, or started after the icon
// was added, takes the icon without the indicator always saying so.
bool tray_present(void) { return tray.indicator && (tray.shown || watcher_present() || x_tray_present()); }
