// A bare WebKitGTK window: the engine's defaults, no host around it. The memory and
// start-up benchmark runs it beside the program to see what the host and its engine
// settings add; the window benchmark, to see how fast and how idle the same engine gets. It loads one address (a file:// page) and prints, like the window-test
// variant of the program, "mark NAME NANOSECONDS" (CLOCK_MONOTONIC) when the page calls
// window.msw_mark(NAME). Each SCRIPT file is added like the program's own scripts: at the
// start of every document of the top frame. SIGTERM ends it as the program ends, through
// its main loop. With --paint-as-program it paints as the program does (no hardware
// acceleration, so no GL compositing), for a benchmark that compares how fast a page gets
// on the screen rather than what the program's settings cost.
//
//   bare_window [--paint-as-program] URL [SCRIPT...]
#include <glib-unix.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <webkit2/webkit2.h>

namespace {

void on_mark(WebKitUserContentManager *, WebKitJavascriptResult *result, gpointer) {
  JSCValue *value = webkit_javascript_result_get_js_value(result);
  char *name = jsc_value_to_string(value);
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  printf("mark %s %lld\n", name ? name : "", (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec);
  fflush(stdout);
  g_free(name);
}

}  // namespace

int main(int argc, char **argv) {
  gtk_init(&argc, &argv);
  bool paint_as_program = argc > 1 && strcmp(argv[1], "--paint-as-program") == 0;
  if (paint_as_program) argc--, argv++;
  if (argc < 2) {
    fprintf(stderr, "usage: bare_window [--paint-as-program] URL [SCRIPT...]\n");
    return 2;
  }
  WebKitUserContentManager *content = webkit_user_content_manager_new();
  g_signal_connect(content, "script-message-received::mark", G_CALLBACK(on_mark), nullptr);
  webkit_user_content_manager_register_script_message_handler(content, "mark");
  WebKitUserScript *script = webkit_user_script_new(
      "window.msw_mark = function (name) { window.webkit.messageHandlers.mark.postMessage(String(name)); };",
      WEBKIT_USER_CONTENT_INJECT_TOP_FRAME, WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
  webkit_user_content_manager_add_script(content, script);
  webkit_user_script_unref(script);
  for (int i = 2; i < argc; i++) {
    gchar *text = nullptr;
    if (!g_file_get_contents(argv[i], &text, nullptr, nullptr)) {
      fprintf(stderr, "bare_window: cannot read %s\n", argv[i]);
      return 2;
    }
    WebKitUserScript *extra = webkit_user_script_new(text, WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                                     WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    webkit_user_content_manager_add_script(content, extra);
    webkit_user_script_unref(extra);
    g_free(text);
  }
  g_unix_signal_add(SIGTERM, [](gpointer) -> gboolean {
    gtk_main_quit();
    return G_SOURCE_REMOVE;
  }, nullptr);

  GtkWidget *window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), "bare window");  // how the window benchmark finds it
  gtk_window_set_default_size(GTK_WINDOW(window), 1100, 720);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
  WebKitSettings *settings = webkit_settings_new();
  if (paint_as_program)
    webkit_settings_set_hardware_acceleration_policy(settings, WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
  GtkWidget *view = GTK_WIDGET(
      g_object_new(WEBKIT_TYPE_WEB_VIEW, "user-content-manager", content, "settings", settings, nullptr));
  g_object_unref(settings);
  gtk_container_add(GTK_CONTAINER(window), view);
  webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), argv[1]);
  gtk_widget_show_all(window);
  gtk_main();
  return 0;
}
