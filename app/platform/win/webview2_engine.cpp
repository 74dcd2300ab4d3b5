#include "app/platform/win/webview2_engine.h"

#include <shlobj.h>
#include <shellapi.h>
#include <shlwapi.h>
#include <stdlib.h>
#include <wchar.h>

#include <memory>

#include "app/platform/win/hidden_window.h"
#include "app/platform/win/wide.h"
#include "webview/bridge.h"
#include "webview/own_address.h"
#include "webview/webview.h"

namespace webview {

const char edge_post_function[] = "function(message) {\n  return window.chrome.webview.postMessage(message);\n}";

namespace {

const wchar_t main_class[] = L"webview";
const wchar_t widget_class[] = L"webview_widget";
const wchar_t message_class[] = L"webview_message";
const UINT task_message = WM_APP;  // 0x8000: lParam is a heap task
const int max_attempts = 5;
const HRESULT invalid_state_hr = static_cast<HRESULT>(0x8007139F);

std::atomic<int> window_count{0};

template <typename T>
T library_call(const wchar_t *library, const char *name) {
  HMODULE module = GetModuleHandleW(library);
  if (!module) module = LoadLibraryW(library);
  return module ? reinterpret_cast<T>(reinterpret_cast<void *>(GetProcAddress(module, name))) : nullptr;
}

int window_dpi(HWND window) {
  auto get_dpi = library_call<UINT(WINAPI *)(HWND)>(L"user32.dll", "GetDpiForWindow");
  UINT dpi = get_dpi && window ? get_dpi(window) : 0;
  return dpi ? static_cast<int>(dpi) : 96;
}

// Client size to window size for a style and DPI.
SIZE window_size_for(HWND window, int width, int height, int dpi) {
  RECT r = {0, 0, width, height};
  DWORD style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE));
  DWORD ex_style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE));
  auto adjust = library_call<BOOL(WINAPI *)(RECT *, DWORD, BOOL, DWORD, UINT)>(L"user32.dll",
                                                                              "AdjustWindowRectExForDpi");
  if (!adjust || !adjust(&r, style, FALSE, ex_style, static_cast<UINT>(dpi))) AdjustWindowRectEx(&r, style, FALSE, ex_style);
  return SIZE{r.right - r.left, r.bottom - r.top};
}

// Per-monitor DPI awareness, the newest way the system offers. Access denied means it was
// set before (the manifest says so), which is what is wanted.
void make_dpi_aware() {
  auto set_context = library_call<BOOL(WINAPI *)(HANDLE)>(L"user32.dll", "SetProcessDpiAwarenessContext");
  if (set_context) {
    typedef LONG(WINAPI * rtl_get_version_fn)(OSVERSIONINFOW *);
    auto get_version = library_call<rtl_get_version_fn>(L"ntdll.dll", "RtlGetVersion");
    OSVERSIONINFOW v = {};
    v.dwOSVersionInfoSize = sizeof v;
    bool v2 = false;
    if (get_version && get_version(&v) == 0)
      v2 = v.dwMajorVersion > 10 || (v.dwMajorVersion == 10 && v.dwMinorVersion > 0) ||
           (v.dwMajorVersion == 10 && v.dwMinorVersion == 0 && v.dwBuildNumber >= 15063);
    HANDLE context = v2 ? reinterpret_cast<HANDLE>(-4) : reinterpret_cast<HANDLE>(-3);
    if (set_context(context) || GetLastError() == ERROR_ACCESS_DENIED) return;
  }
  auto set_awareness = library_call<HRESULT(WINAPI *)(int)>(L"shcore.dll", "SetProcessDpiAwareness");
  if (set_awareness) {
    HRESULT hr = set_awareness(2 /* PROCESS_PER_MONITOR_DPI_AWARE */);
    if (SUCCEEDED(hr) || hr == E_ACCESSDENIED) return;
  }
  SetProcessDPIAware();
}

// Non-client areas of a window made under per-monitor awareness version 1 do not follow
// the DPI by themselves.
void enable_non_client_scaling(HWND window) {
  auto get_context = library_call<HANDLE(WINAPI *)(HWND)>(L"user32.dll", "GetWindowDpiAwarenessContext");
  auto equal = library_call<BOOL(WINAPI *)(HANDLE, HANDLE)>(L"user32.dll", "AreDpiAwarenessContextsEqual");
  auto enable = library_call<BOOL(WINAPI *)(HWND)>(L"user32.dll", "EnableNonClientDpiScaling");
  if (get_context && equal && enable && equal(get_context(window), reinterpret_cast<HANDLE>(-3))) enable(window);
}

// Completion of AddScriptToExecuteOnDocumentCreated: the browser's id for the script.
struct script_added_state {
  bool done = false;
  HRESULT result = E_PENDING;
  std::wstring id;
};

class script_added_handler final : public ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler {
 public:
  explicit script_added_handler(std::shared_ptr<script_added_state> state) : state_(std::move(state)) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) ||
        IsEqualIID(iid, IID_ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler)) {
      *out = this;
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE Invoke(HRESULT result, LPCWSTR id) override {
    state_->result = result;
    if (SUCCEEDED(result) && id) state_->id = id;
    state_->done = true;
    return S_OK;
  }

 private:
  std::shared_ptr<script_added_state> state_;
  std::atomic<ULONG> refs_{1};
};

}  // namespace

void apply_title_bar_theme(HWND window) {
  DWORD light = 1, size = sizeof light;
  if (RegGetValueW(HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize",
                   L"AppsUseLightTheme", RRF_RT_REG_DWORD, nullptr, &light, &size) != ERROR_SUCCESS)
    light = 1;
  BOOL dark = light == 0;
  static auto set_attribute =
      library_call<HRESULT(WINAPI *)(HWND, DWORD, const void *, DWORD)>(L"dwmapi.dll", "DwmSetWindowAttribute");
  if (!set_attribute) return;
  if (FAILED(set_attribute(window, 20, &dark, sizeof dark))) set_attribute(window, 19, &dark, sizeof dark);
}

// One object answers the browser's callbacks: environment made, controller made, a message
// from the page, a permission request, a navigation and a request for a new window. It counts the attempts to start the
// browser and forgets the engine when the engine goes.
class webview2_com_handler final : public ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler,
                             public ICoreWebView2CreateCoreWebView2ControllerCompletedHandler,
                             public ICoreWebView2WebMessageReceivedEventHandler,
                             public ICoreWebView2PermissionRequestedEventHandler,
                             public ICoreWebView2NavigationStartingEventHandler,
                             public ICoreWebView2NewWindowRequestedEventHandler {
 public:
  webview2_com_handler(win32_edge_engine *engine, std::wstring folder)
      : engine_(engine), folder_(std::move(folder)) {}

  void forget_engine() { engine_ = nullptr; }

  // One attempt to make the environment; a call that fails at once is tried again.
  void attempt() {
    if (!engine_) return;
    attempts_++;
    HRESULT hr = engine_->runtime_.create_environment(folder_, this);
    settle(hr);
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler))
      *out = static_cast<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler *>(this);
    else if (IsEqualIID(iid, IID_ICoreWebView2CreateCoreWebView2ControllerCompletedHandler))
      *out = static_cast<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler *>(this);
    else if (IsEqualIID(iid, IID_ICoreWebView2WebMessageReceivedEventHandler))
      *out = static_cast<ICoreWebView2WebMessageReceivedEventHandler *>(this);
    else if (IsEqualIID(iid, IID_ICoreWebView2PermissionRequestedEventHandler))
      *out = static_cast<ICoreWebView2PermissionRequestedEventHandler *>(this);
    else if (IsEqualIID(iid, IID_ICoreWebView2NavigationStartingEventHandler))
      *out = static_cast<ICoreWebView2NavigationStartingEventHandler *>(this);
    else if (IsEqualIID(iid, IID_ICoreWebView2NewWindowRequestedEventHandler))
      *out = static_cast<ICoreWebView2NewWindowRequestedEventHandler *>(this);
    if (!*out) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

  HRESULT STDMETHODCALLTYPE Invoke(HRESULT result, ICoreWebView2Environment *environment) override {
    if (!engine_) return S_OK;
    if (FAILED(result) || !environment) {
      retry();
      return S_OK;
    }
    settle(environment->CreateCoreWebView2Controller(engine_->widget_, this));
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Invoke(HRESULT result, ICoreWebView2Controller *controller) override {
    if (!engine_) return S_OK;
    if (FAILED(result) || !controller) {
      // The browser gave up for good (its window went away, or it is in a state that no
      // new attempt changes): creation ends without a browser instead of waiting forever.
      if (result == E_ABORT || result == invalid_state_hr)
        engine_->browser_failed();
      else
        retry();
      return S_OK;
    }
    ICoreWebView2 *view = nullptr;
    if (FAILED(controller->get_CoreWebView2(&view)) || !view) {
      engine_->browser_failed();
      return S_OK;
    }
    EventRegistrationToken token;
    view->add_WebMessageReceived(this, &token);
    view->add_PermissionRequested(this, &token);
    view->add_NavigationStarting(this, &token);
    view->add_NewWindowRequested(this, &token);
    controller->AddRef();
    engine_->browser_ready(controller, view);  // the engine keeps both references
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2 *, ICoreWebView2WebMessageReceivedEventArgs *args) override {
    if (!engine_ || !args) return S_OK;
    LPWSTR text = nullptr;
    // Only the page's own documents call native functions: a document from anywhere else
    // gets the bridge script too, but its messages are dropped.
    if (FAILED(args->get_Source(&text)) || !text) return S_OK;
    std::string source = narrow(text);
    CoTaskMemFree(text);
    if (!is_own_address(engine_->own_prefix_, source)) return S_OK;
    text = nullptr;
    // A message that is not a string is not a call.
    if (FAILED(args->TryGetWebMessageAsString(&text)) || !text) return S_OK;
    engine_->on_web_message(text);
    CoTaskMemFree(text);
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2 *, ICoreWebView2PermissionRequestedEventArgs *args) override {
    if (!args) return S_OK;
    COREWEBVIEW2_PERMISSION_KIND kind = COREWEBVIEW2_PERMISSION_KIND_UNKNOWN_PERMISSION;
    // The page may read the clipboard (paste into the composer); every other request
    // keeps the browser's default answer.
    if (SUCCEEDED(args->get_PermissionKind(&kind)) && kind == COREWEBVIEW2_PERMISSION_KIND_CLIPBOARD_READ)
      args->put_State(COREWEBVIEW2_PERMISSION_STATE_ALLOW);
    return S_OK;
  }

  /*
   * The window shows the page's own address and nothing else. A navigation elsewhere is
   * cancelled; an http or https one that a person started opens in the desktop's
   * browser, outside this program.
   */
  HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2 *, ICoreWebView2NavigationStartingEventArgs *args) override {
    if (!engine_ || !args) return S_OK;
    LPWSTR text = nullptr;
    if (FAILED(args->get_Uri(&text)) || !text) {
      args->put_Cancel(TRUE);
      return S_OK;
    }
    std::wstring uri = text;
    CoTaskMemFree(text);
    if (is_own_address(engine_->own_prefix_, narrow(uri))) return S_OK;
    args->put_Cancel(TRUE);
    BOOL user = FALSE;
    leave_for_browser(uri, SUCCEEDED(args->get_IsUserInitiated(&user)) && user);
    return S_OK;
  }

  /*
   * window.open and links with a target ask for a new window, which the browser would open
   * as a window of its own, showing any address outside the rule above. No such window
   * opens: the request is marked handled without one, and a web address a person clicked
   * opens in the desktop's browser instead.
   */
  HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2 *, ICoreWebView2NewWindowRequestedEventArgs *args) override {
    if (!args) return S_OK;
    args->put_Handled(TRUE);
    LPWSTR text = nullptr;
    if (!engine_ || FAILED(args->get_Uri(&text)) || !text) return S_OK;
    std::wstring uri = text;
    CoTaskMemFree(text);
    BOOL user = FALSE;
    // The page itself opened in a browser would show its path token to whatever else runs there.
    if (!is_own_address(engine_->own_prefix_, narrow(uri)))
      leave_for_browser(uri, SUCCEEDED(args->get_IsUserInitiated(&user)) && user);
    return S_OK;
  }

  int attempts() const { return attempts_; }

 private:
  // Only a web address a person asked for leaves the program, and only for the desktop's
  // browser: a script can't send anyone anywhere.
  static void leave_for_browser(const std::wstring &uri, bool user) {
    bool web = uri.compare(0, 7, L"http://") == 0 || uri.compare(0, 8, L"https://") == 0;
    if (web && user && win32_edge_engine::open_outside) win32_edge_engine::open_outside(uri);
  }

  // A call that failed at once is tried again; the invalid-state answer ends the attempts.
  // A call that failed calls no handler back, so that ends the wait too rather than
  // leaving the start waiting for an answer that never comes.
  void settle(HRESULT hr) {
    if (SUCCEEDED(hr)) return;
    if (hr == invalid_state_hr)
      engine_->browser_failed();
    else
      retry();
  }

  void retry() {
    if (!engine_) return;
    if (attempts_ < max_attempts)
      attempt();
    else
      engine_->browser_failed();
  }

  win32_edge_engine *engine_;
  std::wstring folder_;
  int attempts_ = 0;
  std::atomic<ULONG> refs_{1};
};

std::wstring win32_edge_engine::data_folder() {
  wchar_t appdata[MAX_PATH];
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, appdata))) return L"";
  wchar_t exe[1024];
  DWORD n = GetModuleFileNameW(nullptr, exe, 1024);
  if (n == 0 || n >= 1024) return L"";
  wchar_t folder[MAX_PATH];
  if (!PathCombineW(folder, appdata, PathFindFileNameW(exe))) return L"";
  return folder;
}

int win32_edge_engine::open_windows() { return window_count.load(); }

win32_edge_engine::win32_edge_engine(bool debug, browser_runtime runtime) : runtime_(std::move(runtime)) {
  try {
    std::wstring version;
    if (!runtime_.find || !runtime_.create_environment || FAILED(runtime_.find(&version)))
      throw exception(result_missing_dependency, "WebView2 is unavailable");
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (hr == RPC_E_CHANGED_MODE)
      throw exception(result_invalid_state, "CoInitializeEx already called with a different concurrency model");
    if (hr != S_OK && hr != S_FALSE) throw exception(result_unspecified, "Unexpected result from CoInitializeEx");
    com_initialised_ = true;
    make_dpi_aware();
    create_windows();
    embed(debug);
  } catch (...) {
    abandon();
    throw;
  }
}

void win32_edge_engine::abandon() {
  release_browser();
  // The windows stay until the process ends (it ends right after a failed start), but no
  // empty window is left on the screen behind the message that follows.
  if (window_) {
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    ShowWindow(window_, SW_HIDE);
    window_count--;  // no longer an engine window: its end ends no loop
  }
  if (widget_) SetWindowLongPtrW(widget_, GWLP_USERDATA, 0);
  if (message_window_) SetWindowLongPtrW(message_window_, GWLP_USERDATA, 0);
  runtime_ = browser_runtime();
  if (com_initialised_) CoUninitialize();
  com_initialised_ = false;
}

void win32_edge_engine::create_windows() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  HICON icon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(32512), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR));
  HCURSOR arrow = LoadCursorW(nullptr, IDC_ARROW);
  window_class_register(main_class, main_proc, icon, arrow, "window");
  window_ = CreateWindowExW(0, main_class, L"", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 0, 0, nullptr,
                            nullptr, instance, this);
  if (!window_) throw exception(result_invalid_state, "Window is null");
  window_count++;
  dpi_ = window_dpi(window_);
  resize_client(640, 480);

  window_class_register(widget_class, widget_proc, nullptr, arrow, "window");
  widget_ = CreateWindowExW(WS_EX_CONTROLPARENT, widget_class, nullptr, WS_CHILD, 0, 0, 0, 0, window_, nullptr,
                            instance, this);
  if (!widget_) throw exception(result_invalid_state, "Widget window is null");

  window_class_register(message_class, message_proc, nullptr, nullptr, "window");
  message_window_ = CreateWindowExW(0, message_class, nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, this);
  if (!message_window_) throw exception(result_invalid_state, "Message window is null");

  ShowWindow(window_, SW_SHOW);
  UpdateWindow(window_);
  SetFocus(window_);
}

void win32_edge_engine::embed(bool debug) {
  std::wstring folder = data_folder();
  if (folder.empty()) throw exception(result_unspecified, "SHGetFolderPathW failed");
  handler_ = new webview2_com_handler(this, folder);
  waiting_ = true;
  handler_->attempt();
  MSG msg;
  while (waiting_) {
    BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    // A quit before the browser is there ends the start; it is not kept, so that the
    // message start-up shows next is not closed by it at once.
    if (got == 0) throw exception(result_canceled, "");
    if (got < 0) throw exception(result_invalid_state, "");
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  if (!controller_ || !view_) throw exception(result_invalid_state, "");

  ICoreWebView2Settings *settings = nullptr;
  if (FAILED(view_->get_Settings(&settings)) || !settings) throw exception(result_unspecified, "get_Settings failed");
  HRESULT dev = settings->put_AreDevToolsEnabled(debug ? TRUE : FALSE);
  HRESULT bar = SUCCEEDED(dev) ? settings->put_IsStatusBarEnabled(FALSE) : S_OK;
  settings->Release();
  if (FAILED(dev)) throw exception(result_unspecified, "put_AreDevToolsEnabled failed");
  if (FAILED(bar)) throw exception(result_unspecified, "put_IsStatusBarEnabled failed");

  add_init_script(bridge_script(edge_post_function));

  fit_browser();
  controller_->put_IsVisible(TRUE);
  ShowWindow(widget_, SW_SHOW);
  UpdateWindow(widget_);
  if (owns_window_) controller_->MoveFocus(COREWEBVIEW2_MOVE_FOCUS_REASON_PROGRAMMATIC);
}

void win32_edge_engine::browser_ready(ICoreWebView2Controller *controller, ICoreWebView2 *view) {
  controller_ = controller;
  view_ = view;
  waiting_ = false;
}

void win32_edge_engine::browser_failed() { waiting_ = false; }

// The message is converted once, into a buffer the bridge takes over: a vault of megabytes
// is not copied again on the window's thread.
void win32_edge_engine::on_web_message(const wchar_t *message) {
  char *text = narrow_owned(message, wcslen(message));
  if (text) on_message(text, free);
}

void win32_edge_engine::fit_browser() {
  if (!controller_ || !widget_) return;
  RECT bounds;
  GetClientRect(widget_, &bounds);
  controller_->put_Bounds(bounds);
}

void win32_edge_engine::release_browser() {
  if (handler_) {
    handler_->forget_engine();
    handler_->Release();
    handler_ = nullptr;
  }
  if (view_) view_->Release();
  view_ = nullptr;
  if (controller_) controller_->Release();
  controller_ = nullptr;
}

win32_edge_engine::~win32_edge_engine() {
  release_browser();
  if (widget_) {
    SetWindowLongPtrW(widget_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(DefWindowProcW));
    DestroyWindow(widget_);
    widget_ = nullptr;
  }
  if (window_ && owns_window_) {
    SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(DefWindowProcW));
    DestroyWindow(window_);
    window_ = nullptr;
    window_count--;
  }
  // Tasks posted before this point still refer to the engine: let them run first.
  MSG msg;
  for (int i = 0; pending_tasks_ > 0 && i < 100000; i++) {
    if (!PeekMessageW(&msg, message_window_, task_message, task_message, PM_REMOVE)) break;
    DispatchMessageW(&msg);
  }
  if (message_window_) {
    SetWindowLongPtrW(message_window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(DefWindowProcW));
    DestroyWindow(message_window_);
    message_window_ = nullptr;
  }
  if (com_initialised_) CoUninitialize();
}

void win32_edge_engine::run() {
  MSG msg;
  BOOL got;
  while ((got = GetMessageW(&msg, nullptr, 0, 0)) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void win32_edge_engine::terminate() { PostQuitMessage(0); }

void win32_edge_engine::set_title(const std::string &title) {
  if (window_) SetWindowTextW(window_, widen(title).c_str());
}

void win32_edge_engine::set_size(int width, int height, bool minimum) {
  if (!window_) return;
  LONG_PTR style = GetWindowLongPtrW(window_, GWL_STYLE);
  SetWindowLongPtrW(window_, GWL_STYLE, style | WS_THICKFRAME | WS_MAXIMIZEBOX);
  if (minimum) {
    // Used as pixels, unscaled, when the user sizes the window.
    min_size_ = POINT{width, height};
    return;
  }
  dpi_ = window_dpi(window_);
  resize_client(MulDiv(width, dpi_, 96), MulDiv(height, dpi_, 96));
}

void win32_edge_engine::resize_client(int width, int height) {
  SIZE size = window_size_for(window_, width, height, dpi_);
  SetWindowPos(window_, nullptr, 0, 0, size.cx, size.cy,
               SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE | SWP_FRAMECHANGED);
}

void win32_edge_engine::navigate(const std::string &url) {
  if (!view_) return;
  std::wstring address = widen(url);
  if (address.empty()) address = L"about:blank";
  own_prefix_ = own_address_prefix(narrow(address));
  view_->Navigate(address.c_str());
}

static void open_in_browser(const std::wstring &uri) {
  ShellExecuteW(nullptr, L"open", uri.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void (*win32_edge_engine::open_outside)(const std::wstring &uri) = open_in_browser;

void win32_edge_engine::eval(const std::string &script) {
  if (!view_) return;
  std::wstring code = widen(script);
  if (code.empty()) return;
  view_->ExecuteScript(code.c_str(), nullptr);
}

void *win32_edge_engine::add_script_impl(const std::string &code) {
  if (!view_) return nullptr;
  auto state = std::make_shared<script_added_state>();
  auto *done = new script_added_handler(state);
  HRESULT hr = view_->AddScriptToExecuteOnDocumentCreated(widen(code).c_str(), done);
  done->Release();
  if (FAILED(hr)) return nullptr;
  // The id comes back later; dispatched tasks and window messages run meanwhile.
  MSG msg;
  while (!state->done) {
    BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got <= 0) {
      if (got == 0) PostQuitMessage(static_cast<int>(msg.wParam));  // for the loop that owns it
      return nullptr;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  if (FAILED(state->result)) return nullptr;
  script_ids_.push_back(state->id);
  return &script_ids_.back();
}

void win32_edge_engine::remove_all_scripts_impl() {
  if (view_)
    for (const std::wstring &id : script_ids_) view_->RemoveScriptToExecuteOnDocumentCreated(id.c_str());
  script_ids_.clear();
}

void win32_edge_engine::dispatch_impl(std::function<void()> task) {
  HWND target = message_window_;
  auto *copy = new std::function<void()>(std::move(task));
  pending_tasks_++;
  if (!target || !PostMessageW(target, task_message, 0, reinterpret_cast<LPARAM>(copy))) {
    pending_tasks_--;
    delete copy;
  }
}

LRESULT CALLBACK win32_edge_engine::message_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto *create = reinterpret_cast<CREATESTRUCTW *>(lp);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  if (msg == task_message && lp) {
    auto *engine = reinterpret_cast<win32_edge_engine *>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    auto *task = reinterpret_cast<std::function<void()> *>(lp);
    (*task)();
    delete task;
    if (engine) engine->pending_tasks_--;
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT CALLBACK win32_edge_engine::widget_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto *create = reinterpret_cast<CREATESTRUCTW *>(lp);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto *engine = reinterpret_cast<win32_edge_engine *>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (msg == WM_SIZE && engine) engine->fit_browser();
  return DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT CALLBACK win32_edge_engine::main_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto *create = reinterpret_cast<CREATESTRUCTW *>(lp);
    auto *engine = static_cast<win32_edge_engine *>(create->lpCreateParams);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(engine));
    if (engine) engine->window_ = hwnd;
    enable_non_client_scaling(hwnd);
    apply_title_bar_theme(hwnd);
    return DefWindowProcW(hwnd, msg, wp, lp);
  }
  auto *engine = reinterpret_cast<win32_edge_engine *>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!engine) return DefWindowProcW(hwnd, msg, wp, lp);
  switch (msg) {
    case WM_SIZE:
      if (engine->widget_) {
        RECT r;
        GetClientRect(hwnd, &r);
        MoveWindow(engine->widget_, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
      }
      return 0;
    case WM_ACTIVATE:
      if (LOWORD(wp) != WA_INACTIVE && engine->controller_)
        engine->controller_->MoveFocus(COREWEBVIEW2_MOVE_FOCUS_REASON_PROGRAMMATIC);
      return 0;
    case WM_CLOSE:
      DestroyWindow(hwnd);
      return 0;
    case WM_DESTROY:
      engine->window_ = nullptr;
      if (--window_count == 0) PostQuitMessage(0);
      return 0;
    case WM_SETTINGCHANGE:
      if (lp && lstrcmpW(reinterpret_cast<LPCWSTR>(lp), L"ImmersiveColorSet") == 0) apply_title_bar_theme(hwnd);
      break;
    case WM_GETMINMAXINFO: {
      auto *info = reinterpret_cast<MINMAXINFO *>(lp);
      if (engine->max_size_.x > 0 && engine->max_size_.y > 0) {
        info->ptMaxSize = engine->max_size_;
        info->ptMaxTrackSize = engine->max_size_;
      }
      if (engine->min_size_.x > 0 && engine->min_size_.y > 0) info->ptMinTrackSize = engine->min_size_;
      return 0;
    }
    case 0x02E0: {  // WM_DPICHANGED
      int now = HIWORD(wp);
      RECT r;
      GetClientRect(hwnd, &r);
      int width = MulDiv(r.right - r.left, now, engine->dpi_);
      int height = MulDiv(r.bottom - r.top, now, engine->dpi_);
      engine->dpi_ = now;
      engine->resize_client(width, height);
      return 0;
    }
    case 0x02E4: {  // WM_GETDPISCALEDSIZE
      RECT r;
      GetClientRect(hwnd, &r);
      int now = static_cast<int>(wp);
      SIZE wanted = window_size_for(hwnd, MulDiv(r.right - r.left, now, engine->dpi_),
                                    MulDiv(r.bottom - r.top, now, engine->dpi_), now);
      *reinterpret_cast<SIZE *>(lp) = wanted;
      return TRUE;
    }
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

const char missing_engine_text[] =
    "mosswire needs the Microsoft Edge WebView2 Runtime. Install it from "
    "https://developer.microsoft.com/microsoft-edge/webview2/ and open mosswire again.";

// The factory: the build links exactly one engine, and with it this function.
engine *create(void) {
  try {
    return new win32_edge_engine(false, system_runtime());
  } catch (const std::exception &) {
    return nullptr;
  }
}

}  // namespace webview
