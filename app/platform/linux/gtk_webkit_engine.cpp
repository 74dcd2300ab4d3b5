#include "app/platform/linux/gtk_webkit_engine.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include <stdexcept>

#include "webview/bridge.h"
#include "webview/own_address.h"
#include "webview/webview.h"

namespace webview {

const char gtk_message_channel[] = "__webview__";
const char gtk_post_function[] =
    "function(message) {\n  return window.webkit.messageHandlers.__webview__.postMessage(message);\n}";

namespace {

struct queued_task {
  std::function<void()> fn;
  std::atomic<int> *pending;
};

std::string executable_name() {
  char path[4096];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n > 0) {
    path[n] = 0;
    const char *slash = strrchr(path, '/');
    return slash ? slash + 1 : path;
  }
  const char *prg = g_get_prgname();
  return prg ? prg : "mosswire";
}

// Invalid UTF-8 handed to GTK or WebKit is turned into nothing, never into a crash.
std::string valid_or_empty(const std::string &text) { return utf8_valid(text) ? text : std::string(); }

// The window shows one small local page for hours: the engine keeps no caches of pages
// visited before, and gives memory back early (from about a third of the limit) rather
// than when the machine runs short. Nothing is killed on reaching the limit.
WebKitWebContext *lean_context(WebKitWebsiteDataManager *manager) {
  WebKitMemoryPressureSettings *pressure = webkit_memory_pressure_settings_new();
  webkit_memory_pressure_settings_set_memory_limit(pressure, 512);
  WebKitWebContext *context = WEBKIT_WEB_CONTEXT(g_object_new(
      WEBKIT_TYPE_WEB_CONTEXT, "website-data-manager", manager, "memory-pressure-settings", pressure, nullptr));
  webkit_memory_pressure_settings_free(pressure);
  if (context) webkit_web_context_set_cache_model(context, WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
  return context;
}

// The page is text, images and a socket: no 3D, sound, video, camera or plug-ins, no
// GPU compositing, no history to go back to, and no links fetched or reported ahead of a
// click. Each feature left on costs memory in the web process whether the page uses it
// or not.
void use_only_what_the_page_needs(WebKitWebView *view, bool automated) {
  WebKitSettings *settings = webkit_web_view_get_settings(view);
  webkit_settings_set_enable_webgl(settings, FALSE);
  webkit_settings_set_enable_webaudio(settings, FALSE);
  webkit_settings_set_enable_media(settings, FALSE);
  webkit_settings_set_enable_mediasource(settings, FALSE);
  webkit_settings_set_enable_media_stream(settings, FALSE);
  webkit_settings_set_enable_encrypted_media(settings, FALSE);
  webkit_settings_set_enable_webrtc(settings, FALSE);
  webkit_settings_set_enable_page_cache(settings, FALSE);
  // Newer engines never prefetch and mark the setting deprecated; older ones still honour
  // it, and a name lookup the page did not ask for is one no resolver needs to see.
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  webkit_settings_set_enable_dns_prefetching(settings, FALSE);
  G_GNUC_END_IGNORE_DEPRECATIONS
  webkit_settings_set_enable_spatial_navigation(settings, FALSE);
  webkit_settings_set_enable_back_forward_navigation_gestures(settings, FALSE);
  webkit_settings_set_enable_developer_extras(settings, automated);
  // Composited layers drawn through OpenGL cost the web process tens of megabytes of
  // buffers (far more where the GL is a software one) for a page of text that has nothing
  // to animate in 3D; it is drawn by the CPU instead.
  webkit_settings_set_hardware_acceleration_policy(settings, WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
}

}  // namespace

std::string gtk_webkit_engine::data_folder() {
  return std::string(g_get_user_data_dir()) + "/" + executable_name();
}

gtk_webkit_engine::gtk_webkit_engine() {
  if (!gtk_init_check(nullptr, nullptr)) throw std::runtime_error("no display");

  std::string data = data_folder();
  g_mkdir_with_parents(data.c_str(), 0700);
  std::string cache = data + "/cache";
  WebKitWebsiteDataManager *manager = webkit_website_data_manager_new(
      "base-data-directory", data.c_str(), "base-cache-directory", cache.c_str(), nullptr);
  WebKitWebContext *context = lean_context(manager);
  g_object_unref(manager);
  if (!context) throw std::runtime_error("WebKitGTK is unavailable");

  // Browser automation (WebKitWebDriver) only when this process was started for it.
  const char *automation = getenv("MOSSWIRE_AUTOMATION");
  bool automated = automation && strcmp(automation, "1") == 0;
  if (automated) webkit_web_context_set_automation_allowed(context, TRUE);

  content_ = webkit_user_content_manager_new();
  g_signal_connect(content_, (std::string("script-message-received::") + gtk_message_channel).c_str(),
                   G_CALLBACK(on_script_message), this);
  webkit_user_content_manager_register_script_message_handler(content_, gtk_message_channel);

  view_ = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context, "user-content-manager",
                                       content_, "is-controlled-by-automation", automated, nullptr));
  if (!view_) {
    g_object_unref(context);
    throw std::runtime_error("WebKitGTK is unavailable");
  }
  g_object_ref_sink(view_);
  use_only_what_the_page_needs(view_, automated);

  if (automated) {
    g_signal_connect(context, "automation-started",
                     G_CALLBACK(+[](WebKitWebContext *, WebKitAutomationSession *session, gpointer view) {
                       g_signal_connect(session, "create-web-view",
                                        G_CALLBACK(+[](WebKitAutomationSession *, gpointer v) {
                                          return WEBKIT_WEB_VIEW(v);
                                        }),
                                        view);
                     }),
                     view_);
  }
  // Nothing is ever saved from the page: a download is stopped as it starts.
  g_signal_connect(context, "download-started",
                   G_CALLBACK(+[](WebKitWebContext *, WebKitDownload *download, gpointer) {
                     webkit_download_cancel(download);
                   }),
                   nullptr);
  g_object_unref(context);  // the view keeps it

  g_signal_connect(view_, "decide-policy", G_CALLBACK(on_decide_policy), this);
  g_signal_connect(view_, "create",
                   G_CALLBACK(+[](WebKitWebView *, WebKitNavigationAction *, gpointer) -> GtkWidget * {
                     return nullptr;  // no second window, whatever asked for it
                   }),
                   nullptr);
  g_signal_connect(view_, "permission-request", G_CALLBACK(on_permission), nullptr);
  g_signal_connect(view_, "web-process-terminated", G_CALLBACK(on_web_process_gone), nullptr);

  window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  if (!window_) throw std::runtime_error("no window");
  g_signal_connect(window_, "destroy", G_CALLBACK(on_window_destroy), this);
  gtk_window_set_default_size(GTK_WINDOW(window_), 640, 480);
  gtk_container_add(GTK_CONTAINER(window_), GTK_WIDGET(view_));
  gtk_widget_show(GTK_WIDGET(view_));
  gtk_widget_grab_focus(GTK_WIDGET(view_));

  add_init_script(bridge_script(gtk_post_function));
}

gtk_webkit_engine::~gtk_webkit_engine() {
  if (content_) g_signal_handlers_disconnect_by_data(content_, this);
  if (window_) {
    g_signal_handlers_disconnect_by_data(window_, this);
    gtk_widget_destroy(window_);
    window_ = nullptr;
  }
  // Tasks posted before this point still refer to the engine: let them run first.
  for (int i = 0; pending_tasks_ > 0 && i < 10000; i++) g_main_context_iteration(nullptr, FALSE);
  if (view_) g_object_unref(view_);
  if (content_) g_object_unref(content_);
}

void gtk_webkit_engine::on_script_message(WebKitUserContentManager *, WebKitJavascriptResult *result,
                                          gpointer self) {
  JSCValue *value = webkit_javascript_result_get_js_value(result);
  if (!jsc_value_is_string(value)) return;
  char *text = jsc_value_to_string(value);
  if (!text) return;
  static_cast<gtk_webkit_engine *>(self)->on_message(text, g_free);
}

// The page may read the clipboard (paste into the composer); every other request keeps
// WebKit's default answer.
gboolean gtk_webkit_engine::on_permission(WebKitWebView *, WebKitPermissionRequest *request, gpointer) {
  if (WEBKIT_IS_CLIPBOARD_PERMISSION_REQUEST(request)) {
    webkit_permission_request_allow(request);
    return TRUE;
  }
  return FALSE;
}

// A crashed page would otherwise leave an empty window until the program is restarted;
// loading it again restarts the page (its state is in the vault). A page that keeps
// crashing is loaded again at most three times a minute, not in a tight loop.
void gtk_webkit_engine::on_web_process_gone(WebKitWebView *view, WebKitWebProcessTerminationReason reason,
                                            gpointer) {
  if (reason != WEBKIT_WEB_PROCESS_CRASHED && reason != WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT) return;
  // The reloads of the last minute: when the minute began, and how many so far.
  static struct {
    gint64 since = 0;
    int count = 0;
  } reloads;
  gint64 now = g_get_monotonic_time();
  if (now - reloads.since > 60 * G_USEC_PER_SEC) {
    reloads.since = now;
    reloads.count = 0;
  }
  if (reloads.count++ < 3) webkit_web_view_reload(view);
}

/*
 * The window shows the page's own address and nothing else. A navigation elsewhere, a new
 * window and any answer the view cannot show (which would become a download) are
 * refused. The one way out is an http or https link a person clicked: it opens in the
 * desktop's browser, outside this program.
 */
gboolean gtk_webkit_engine::on_decide_policy(WebKitWebView *, WebKitPolicyDecision *decision,
                                             WebKitPolicyDecisionType type, gpointer self) {
  auto *engine = static_cast<gtk_webkit_engine *>(self);
  if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) {
    if (webkit_response_policy_decision_is_mime_type_supported(WEBKIT_RESPONSE_POLICY_DECISION(decision)))
      return FALSE;
    webkit_policy_decision_ignore(decision);
    return TRUE;
  }
  if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION && type != WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
    webkit_policy_decision_ignore(decision);
    return TRUE;
  }
  WebKitNavigationAction *action =
      webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
  const char *uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
  if (type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION && uri && is_own_address(engine->own_prefix_, uri)) return FALSE;
  webkit_policy_decision_ignore(decision);
  // A script's link.click() passes for a user gesture; only a real mouse button does not.
  bool clicked = webkit_navigation_action_get_navigation_type(action) == WEBKIT_NAVIGATION_TYPE_LINK_CLICKED &&
                 webkit_navigation_action_is_user_gesture(action) &&
                 webkit_navigation_action_get_mouse_button(action) != 0;
  if (clicked && uri && (g_str_has_prefix(uri, "http://") || g_str_has_prefix(uri, "https://")) && engine->window_) {
    GError *error = nullptr;
    gtk_show_uri_on_window(GTK_WINDOW(engine->window_), uri, gtk_get_current_event_time(), &error);
    g_clear_error(&error);  // no browser: the link simply does nothing
  }
  return TRUE;
}

void gtk_webkit_engine::on_window_destroy(GtkWidget *, gpointer self) {
  auto *engine = static_cast<gtk_webkit_engine *>(self);
  engine->window_ = nullptr;
  engine->terminate();
}

void gtk_webkit_engine::run() {
  if (quit_requested_.exchange(false)) return;
  // The window is shown when the loop starts, so it first appears at the size and
  // title start-up gave it rather than jumping from the engine's default.
  if (window_) gtk_widget_show(window_);
  gtk_main();
}

void gtk_webkit_engine::terminate() {
  if (gtk_main_level() > 0)
    gtk_main_quit();
  else
    quit_requested_ = true;  // the loop has not started yet: end it as soon as it does
}

void gtk_webkit_engine::set_title(const std::string &title) {
  if (window_) gtk_window_set_title(GTK_WINDOW(window_), valid_or_empty(title).c_str());
}

void gtk_webkit_engine::set_size(int width, int height, bool minimum) {
  if (!window_ || width <= 0 || height <= 0) return;
  GtkWindow *w = GTK_WINDOW(window_);
  if (minimum) {
    GdkGeometry g;
    memset(&g, 0, sizeof g);
    g.min_width = width;
    g.min_height = height;
    gtk_window_set_geometry_hints(w, nullptr, &g, GDK_HINT_MIN_SIZE);
    return;
  }
  // GTK sizes are logical pixels already: the scale factor of the screen applies.
  gtk_window_set_default_size(w, width, height);
  gtk_window_resize(w, width, height);
}

void gtk_webkit_engine::navigate(const std::string &url) {
  if (!view_) return;
  std::string address = valid_or_empty(url);
  if (address.empty()) address = "about:blank";
  own_prefix_ = own_address_prefix(address);
  webkit_web_view_load_uri(view_, address.c_str());
}

void gtk_webkit_engine::eval(const std::string &script) {
  if (!view_ || !window_) return;
  // Checked where it lies: a reply carrying the vault is megabytes long.
  if (script.empty() || !utf8_valid(script)) return;
  webkit_web_view_evaluate_javascript(view_, script.c_str(), (gssize)script.size(), nullptr, nullptr, nullptr,
                                      nullptr, nullptr);
}

void *gtk_webkit_engine::add_script_impl(const std::string &code) {
  WebKitUserScript *script =
      webkit_user_script_new(valid_or_empty(code).c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                             WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
  webkit_user_content_manager_add_script(content_, script);
  webkit_user_script_unref(script);
  return script;  // an opaque token; the manager holds its own reference
}

void gtk_webkit_engine::remove_all_scripts_impl() { webkit_user_content_manager_remove_all_scripts(content_); }

gboolean gtk_webkit_engine::run_task(gpointer data) {
  auto *task = static_cast<queued_task *>(data);
  task->fn();
  --*task->pending;
  delete task;
  return G_SOURCE_REMOVE;
}

void gtk_webkit_engine::dispatch_impl(std::function<void()> task) {
  pending_tasks_++;
  // Idle sources of one priority are dispatched in the order they were added, so tasks
  // keep their posting order; each is its own source, so a task that pumps the loop
  // (a nested wait) lets the tasks behind it run.
  g_idle_add_full(G_PRIORITY_DEFAULT, run_task, new queued_task{std::move(task), &pending_tasks_}, nullptr);
}

const char missing_engine_text[] =
    "mosswire needs WebKitGTK 4.1. Install it (sudo apt install libwebkit2gtk-4.1-0) and open mosswire again.";

// The factory: the build links exactly one engine, and with it this function.
engine *create(void) {
  try {
    return new gtk_webkit_engine();
  } catch (const std::exception &) {
    return nullptr;
  }
}

}  // namespace webview
