// A GTK module for the memory and start-up benchmark, loaded into the program or the bare
// window through GTK_MODULES=/path/to/libmsw_page_driver.so, so that both are driven
// through the same page steps without a hook in the program itself. When a WebKit view
// of the process finishes loading a page, it runs the script named by MSW_PAGE_DRIVER in
// that page. The script reports by setting the document's title to "bench:NAME:N"; each
// such title, and each load step, is printed as "mark NAME NANOSECONDS" (CLOCK_MONOTONIC)
// on stdout.
#include <gtk/gtk.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>
#include <webkit2/webkit2.h>

#include <string>

namespace {

std::string driver;

void print_mark(const char *name, size_t length) {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  printf("mark %.*s %lld\n", (int)length, name, (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec);
  fflush(stdout);
}

void on_title(WebKitWebView *view, GParamSpec *, gpointer) {
  const char *title = webkit_web_view_get_title(view);
  if (!title || strncmp(title, "bench:", 6) != 0) return;
  const char *name = title + 6;
  const char *end = strrchr(name, ':');
  print_mark(name, end ? (size_t)(end - name) : strlen(name));
}

gboolean on_load_changed(GSignalInvocationHint *, guint count, const GValue *values, gpointer) {
  if (count < 2) return TRUE;
  WebKitWebView *view = WEBKIT_WEB_VIEW(g_value_get_object(&values[0]));
  WebKitLoadEvent event = (WebKitLoadEvent)g_value_get_enum(&values[1]);
  if (event == WEBKIT_LOAD_COMMITTED) print_mark("committed", 9);
  if (event != WEBKIT_LOAD_FINISHED) return TRUE;
  print_mark("loaded", 6);
  if (!g_object_get_data(G_OBJECT(view), "msw-page-driver")) {
    g_object_set_data(G_OBJECT(view), "msw-page-driver", (gpointer)1);
    g_signal_connect(view, "notify::title", G_CALLBACK(on_title), nullptr);
  }
  webkit_web_view_evaluate_javascript(view, driver.c_str(), (gssize)driver.size(), nullptr, nullptr, nullptr,
                                      nullptr, nullptr);
  return TRUE;
}

// The helper processes WebKit starts inherit GTK_MODULES; only the process that owns the
// views drives them.
bool is_webkit_helper(void) {
  char path[4096];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return false;
  path[n] = 0;
  const char *slash = strrchr(path, '/');
  return strncmp(slash ? slash + 1 : path, "WebKit", 6) == 0;
}

}  // namespace

extern "C" G_MODULE_EXPORT void gtk_module_init(gint *, gchar ***) {
  const char *file = getenv("MSW_PAGE_DRIVER");
  if (!file || is_webkit_helper()) return;
  gchar *text = nullptr;
  if (!g_file_get_contents(file, &text, nullptr, nullptr)) {
    fprintf(stderr, "page driver: cannot read %s\n", file);
    return;
  }
  driver = text;
  g_free(text);
  g_type_class_ref(WEBKIT_TYPE_WEB_VIEW);  // its signals exist once its class does; kept for good
  guint signal = g_signal_lookup("load-changed", WEBKIT_TYPE_WEB_VIEW);
  g_signal_add_emission_hook(signal, 0, on_load_changed, nullptr, nullptr);
}
