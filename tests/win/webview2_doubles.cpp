#include "tests/win/webview2_doubles.h"

#include <atomic>

namespace fake {

namespace {

const UINT later_message = WM_APP + 7;

LRESULT CALLBACK later_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == later_message && lp) {
    auto *fn = reinterpret_cast<std::function<void()> *>(lp);
    (*fn)();
    delete fn;
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

HWND later_window() {
  static HWND window = [] {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = later_proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"fake_browser_later";
    RegisterClassW(&wc);
    return CreateWindowW(L"fake_browser_later", nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
  }();
  return window;
}

LPWSTR task_mem_copy(const std::wstring &text) {
  size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  auto *copy = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
  memcpy(copy, text.c_str(), bytes);
  return copy;
}

// IUnknown for a stand-in that the browser record owns: references are counted (a test
// could read them) but the object lives as long as the record.
template <typename Interface>
class owned : public Interface {
 public:
  explicit owned(const IID &iid) : iid_(iid) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, iid_)) {
      *out = this;
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  std::atomic<ULONG> refs{1};

 private:
  IID iid_;
};

#define NOT_USED(name, params) \
  HRESULT STDMETHODCALLTYPE name params override { return E_NOTIMPL; }

class message_args : public owned<ICoreWebView2WebMessageReceivedEventArgs> {
 public:
  message_args(std::wstring source, std::wstring text, bool is_string)
      : owned(IID_ICoreWebView2WebMessageReceivedEventArgs),
        source_(std::move(source)),
        text_(std::move(text)),
        is_string_(is_string) {}
  HRESULT STDMETHODCALLTYPE get_Source(LPWSTR *source) override {
    *source = task_mem_copy(source_);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_WebMessageAsJson(LPWSTR *json) override {
    *json = task_mem_copy(text_);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE TryGetWebMessageAsString(LPWSTR *text) override {
    *text = nullptr;
    if (!is_string_) return E_INVALIDARG;
    *text = task_mem_copy(text_);
    return S_OK;
  }

 private:
  std::wstring source_, text_;
  bool is_string_;
};

// What a navigation and a new-window request both tell: where to, and whether a person
// asked for it.
template <typename Interface>
class address_request : public owned<Interface> {
 public:
  address_request(const IID &iid, std::wstring uri, bool user) : owned<Interface>(iid), uri_(std::move(uri)), user_(user) {}
  HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR *uri) override {
    *uri = task_mem_copy(uri_);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_IsUserInitiated(BOOL *user) override {
    *user = user_;
    return S_OK;
  }

 private:
  std::wstring uri_;
  bool user_;
};

class navigation_args : public address_request<ICoreWebView2NavigationStartingEventArgs> {
 public:
  navigation_args(std::wstring uri, bool user)
      : address_request(IID_ICoreWebView2NavigationStartingEventArgs, std::move(uri), user) {}
  HRESULT STDMETHODCALLTYPE get_IsRedirected(BOOL *redirected) override {
    *redirected = FALSE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Cancel(BOOL *cancel) override {
    *cancel = cancel_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_Cancel(BOOL cancel) override {
    cancel_ = cancel;
    return S_OK;
  }
  NOT_USED(get_RequestHeaders, (void **))
  NOT_USED(get_NavigationId, (UINT64 *))
  BOOL cancel_ = FALSE;
};

// A request for a new window, as the runtime makes it for window.open or a link with a
// target; unless it is handled, the runtime opens a window of its own.
class new_window_args : public address_request<ICoreWebView2NewWindowRequestedEventArgs> {
 public:
  new_window_args(std::wstring uri, bool user)
      : address_request(IID_ICoreWebView2NewWindowRequestedEventArgs, std::move(uri), user) {}
  HRESULT STDMETHODCALLTYPE put_Handled(BOOL handled) override {
    handled_ = handled;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Handled(BOOL *handled) override {
    *handled = handled_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_NewWindow(ICoreWebView2 *view) override {
    window_set_ = view != nullptr;
    return S_OK;
  }
  NOT_USED(get_NewWindow, (ICoreWebView2 **))
  NOT_USED(GetDeferral, (void **))
  NOT_USED(get_WindowFeatures, (void **))
  BOOL handled_ = FALSE;
  bool window_set_ = false;
};

class permission_args : public owned<ICoreWebView2PermissionRequestedEventArgs> {
 public:
  explicit permission_args(COREWEBVIEW2_PERMISSION_KIND kind)
      : owned(IID_ICoreWebView2PermissionRequestedEventArgs), kind_(kind) {}
  HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR *uri) override {
    *uri = task_mem_copy(L"http://127.0.0.1/");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_PermissionKind(COREWEBVIEW2_PERMISSION_KIND *kind) override {
    *kind = kind_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_IsUserInitiated(BOOL *user) override {
    *user = TRUE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_State(COREWEBVIEW2_PERMISSION_STATE *state) override {
    *state = state_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_State(COREWEBVIEW2_PERMISSION_STATE state) override {
    state_ = state;
    return S_OK;
  }
  NOT_USED(GetDeferral, (void **))
  COREWEBVIEW2_PERMISSION_STATE state_ = COREWEBVIEW2_PERMISSION_STATE_DEFAULT;

 private:
  COREWEBVIEW2_PERMISSION_KIND kind_;
};

}  // namespace

class settings final : public owned<ICoreWebView2Settings> {
 public:
  explicit settings(browser *b) : owned(IID_ICoreWebView2Settings), b_(b) {}
  HRESULT STDMETHODCALLTYPE get_IsStatusBarEnabled(BOOL *v) override {
    *v = b_->status_bar;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_IsStatusBarEnabled(BOOL v) override {
    b_->status_bar = v;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_AreDevToolsEnabled(BOOL *v) override {
    *v = b_->dev_tools;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_AreDevToolsEnabled(BOOL v) override {
    b_->dev_tools = v;
    return S_OK;
  }
  NOT_USED(get_IsScriptEnabled, (BOOL *))
  NOT_USED(put_IsScriptEnabled, (BOOL))
  NOT_USED(get_IsWebMessageEnabled, (BOOL *))
  NOT_USED(put_IsWebMessageEnabled, (BOOL))
  NOT_USED(get_AreDefaultScriptDialogsEnabled, (BOOL *))
  NOT_USED(put_AreDefaultScriptDialogsEnabled, (BOOL))
  NOT_USED(get_AreDefaultContextMenusEnabled, (BOOL *))
  NOT_USED(put_AreDefaultContextMenusEnabled, (BOOL))
  NOT_USED(get_AreHostObjectsAllowed, (BOOL *))
  NOT_USED(put_AreHostObjectsAllowed, (BOOL))
  NOT_USED(get_IsZoomControlEnabled, (BOOL *))
  NOT_USED(put_IsZoomControlEnabled, (BOOL))
  NOT_USED(get_IsBuiltInErrorPageEnabled, (BOOL *))
  NOT_USED(put_IsBuiltInErrorPageEnabled, (BOOL))

 private:
  browser *b_;
};

class view final : public owned<ICoreWebView2> {
 public:
  explicit view(browser *b) : owned(IID_ICoreWebView2), b_(b) {}
  HRESULT STDMETHODCALLTYPE get_Settings(ICoreWebView2Settings **out) override {
    if (FAILED(b_->settings_result)) return b_->settings_result;
    b_->prefs->AddRef();
    *out = b_->prefs;
    return S_OK;
  }
  // The navigation starts later, as the runtime's does.
  HRESULT STDMETHODCALLTYPE Navigate(LPCWSTR uri) override {
    if (!uri) return E_INVALIDARG;
    b_->navigations.push_back(uri);
    browser *b = b_;
    std::wstring address = uri;
    b_->soon([b, address] { b->page_navigates(address, false); });
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE add_NavigationStarting(ICoreWebView2NavigationStartingEventHandler *handler,
                                                   EventRegistrationToken *token) override {
    handler->AddRef();
    b_->navigation_handler = handler;
    token->value = 3;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE add_PermissionRequested(ICoreWebView2PermissionRequestedEventHandler *handler,
                                                    EventRegistrationToken *token) override {
    handler->AddRef();
    b_->permission_handler = handler;
    token->value = 2;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE add_WebMessageReceived(ICoreWebView2WebMessageReceivedEventHandler *handler,
                                                   EventRegistrationToken *token) override {
    handler->AddRef();
    b_->message_handler = handler;
    token->value = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE add_NewWindowRequested(ICoreWebView2NewWindowRequestedEventHandler *handler,
                                                   EventRegistrationToken *token) override {
    handler->AddRef();
    b_->new_window_handler = handler;
    token->value = 4;
    return S_OK;
  }
  // The id comes back later, as the runtime's completion does.
  HRESULT STDMETHODCALLTYPE AddScriptToExecuteOnDocumentCreated(
      LPCWSTR script, ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler *handler) override {
    if (!script || !handler) return E_INVALIDARG;
    std::wstring id = L"script-" + std::to_wstring(next_id_++);
    b_->scripts.push_back({id, script});
    handler->AddRef();
    b_->soon([handler, id] {
      handler->Invoke(S_OK, id.c_str());
      handler->Release();
    });
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE RemoveScriptToExecuteOnDocumentCreated(LPCWSTR id) override {
    b_->removed.push_back(id);
    for (auto it = b_->scripts.begin(); it != b_->scripts.end(); ++it)
      if (it->first == id) {
        b_->scripts.erase(it);
        break;
      }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ExecuteScript(LPCWSTR script, ICoreWebView2ExecuteScriptCompletedHandler *handler) override {
    if (!script) return E_INVALIDARG;
    b_->executed.push_back(script);
    if (handler) {
      handler->AddRef();
      b_->soon([handler] {
        handler->Invoke(S_OK, L"null");
        handler->Release();
      });
    }
    return S_OK;
  }
  NOT_USED(get_Source, (LPWSTR *))
  NOT_USED(NavigateToString, (LPCWSTR))
  NOT_USED(remove_NavigationStarting, (EventRegistrationToken))
  NOT_USED(add_ContentLoading, (void *, EventRegistrationToken *))
  NOT_USED(remove_ContentLoading, (EventRegistrationToken))
  NOT_USED(add_SourceChanged, (void *, EventRegistrationToken *))
  NOT_USED(remove_SourceChanged, (EventRegistrationToken))
  NOT_USED(add_HistoryChanged, (void *, EventRegistrationToken *))
  NOT_USED(remove_HistoryChanged, (EventRegistrationToken))
  NOT_USED(add_NavigationCompleted, (void *, EventRegistrationToken *))
  NOT_USED(remove_NavigationCompleted, (EventRegistrationToken))
  NOT_USED(add_FrameNavigationStarting, (void *, EventRegistrationToken *))
  NOT_USED(remove_FrameNavigationStarting, (EventRegistrationToken))
  NOT_USED(add_FrameNavigationCompleted, (void *, EventRegistrationToken *))
  NOT_USED(remove_FrameNavigationCompleted, (EventRegistrationToken))
  NOT_USED(add_ScriptDialogOpening, (void *, EventRegistrationToken *))
  NOT_USED(remove_ScriptDialogOpening, (EventRegistrationToken))
  NOT_USED(remove_PermissionRequested, (EventRegistrationToken))
  NOT_USED(add_ProcessFailed, (void *, EventRegistrationToken *))
  NOT_USED(remove_ProcessFailed, (EventRegistrationToken))
  NOT_USED(CapturePreview, (int, void *, void *))
  NOT_USED(Reload, ())
  NOT_USED(PostWebMessageAsJson, (LPCWSTR))
  NOT_USED(PostWebMessageAsString, (LPCWSTR))
  NOT_USED(remove_WebMessageReceived, (EventRegistrationToken))
  NOT_USED(CallDevToolsProtocolMethod, (LPCWSTR, LPCWSTR, void *))
  NOT_USED(get_BrowserProcessId, (UINT32 *))
  NOT_USED(get_CanGoBack, (BOOL *))
  NOT_USED(get_CanGoForward, (BOOL *))
  NOT_USED(GoBack, ())
  NOT_USED(GoForward, ())
  NOT_USED(GetDevToolsProtocolEventReceiver, (LPCWSTR, void **))
  NOT_USED(Stop, ())
  NOT_USED(remove_NewWindowRequested, (EventRegistrationToken))

 private:
  browser *b_;
  int next_id_ = 1;
};

class controller final : public owned<ICoreWebView2Controller> {
 public:
  explicit controller(browser *b) : owned(IID_ICoreWebView2Controller), b_(b) {}
  HRESULT STDMETHODCALLTYPE get_IsVisible(BOOL *v) override {
    *v = b_->visible;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_IsVisible(BOOL v) override {
    b_->visible = v;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Bounds(RECT *r) override {
    *r = b_->bounds;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_Bounds(RECT r) override {
    b_->bounds = r;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE MoveFocus(COREWEBVIEW2_MOVE_FOCUS_REASON reason) override {
    if (reason == COREWEBVIEW2_MOVE_FOCUS_REASON_PROGRAMMATIC) b_->focus_moves++;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_ParentWindow(HWND *parent) override {
    *parent = b_->controller_parent;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_CoreWebView2(ICoreWebView2 **out) override {
    b_->web->AddRef();
    *out = b_->web;
    return S_OK;
  }
  NOT_USED(get_ZoomFactor, (double *))
  NOT_USED(put_ZoomFactor, (double))
  NOT_USED(add_ZoomFactorChanged, (void *, EventRegistrationToken *))
  NOT_USED(remove_ZoomFactorChanged, (EventRegistrationToken))
  NOT_USED(SetBoundsAndZoomFactor, (RECT, double))
  NOT_USED(add_MoveFocusRequested, (void *, EventRegistrationToken *))
  NOT_USED(remove_MoveFocusRequested, (EventRegistrationToken))
  NOT_USED(add_GotFocus, (void *, EventRegistrationToken *))
  NOT_USED(remove_GotFocus, (EventRegistrationToken))
  NOT_USED(add_LostFocus, (void *, EventRegistrationToken *))
  NOT_USED(remove_LostFocus, (EventRegistrationToken))
  NOT_USED(add_AcceleratorKeyPressed, (void *, EventRegistrationToken *))
  NOT_USED(remove_AcceleratorKeyPressed, (EventRegistrationToken))
  NOT_USED(put_ParentWindow, (HWND))
  NOT_USED(NotifyParentWindowPositionChanged, ())
  NOT_USED(Close, ())

 private:
  browser *b_;
};

class environment final : public owned<ICoreWebView2Environment> {
 public:
  explicit environment(browser *b) : owned(IID_ICoreWebView2Environment), b_(b) {}
  // The controller comes back later, made inside the parent window.
  HRESULT STDMETHODCALLTYPE CreateCoreWebView2Controller(
      HWND parent, ICoreWebView2CreateCoreWebView2ControllerCompletedHandler *handler) override {
    if (!handler) return E_INVALIDARG;
    b_->controller_requests++;
    b_->controller_parent = parent;
    handler->AddRef();
    browser *b = b_;
    b_->soon([b, handler] {
      if (SUCCEEDED(b->controller_result))
        handler->Invoke(S_OK, b->ctrl);
      else
        handler->Invoke(b->controller_result, nullptr);
      handler->Release();
    });
    return S_OK;
  }
  NOT_USED(CreateWebResourceResponse, (void *, int, LPCWSTR, LPCWSTR, void **))
  NOT_USED(get_BrowserVersionString, (LPWSTR *))
  NOT_USED(add_NewBrowserVersionAvailable, (void *, EventRegistrationToken *))
  NOT_USED(remove_NewBrowserVersionAvailable, (EventRegistrationToken))

 private:
  browser *b_;
};

void later(std::function<void()> fn) {
  PostMessageW(later_window(), later_message, 0, reinterpret_cast<LPARAM>(new std::function<void()>(std::move(fn))));
}

bool pump_until(const std::function<bool()> &done, int timeout_ms) {
  DWORD start = GetTickCount();
  MSG msg;
  while (!done()) {
    if (GetTickCount() - start > static_cast<DWORD>(timeout_ms)) return false;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) continue;  // a test that wants the quit looks for it itself
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
      if (done()) return true;
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
  return true;
}

browser::browser()
    : env(new environment(this)), ctrl(new controller(this)), web(new view(this)), prefs(new settings(this)) {}

browser::~browser() {
  if (message_handler) message_handler->Release();
  if (permission_handler) permission_handler->Release();
  if (navigation_handler) navigation_handler->Release();
  if (new_window_handler) new_window_handler->Release();
  delete env;
  delete ctrl;
  delete web;
  delete prefs;
}

void browser::soon(std::function<void()> fn) {
  std::weak_ptr<int> alive = life;
  later([alive, fn] {
    if (!alive.expired()) fn();
  });
}

browser_runtime browser::runtime() {
  browser_runtime r;
  r.find = [this](std::wstring *version) -> HRESULT {
    find_calls++;
    if (!installed) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    *version = L"120.0.2210.91";
    return S_OK;
  };
  r.create_environment = [this](const std::wstring &folder, environment_handler *handler) -> HRESULT {
    size_t n = static_cast<size_t>(environment_attempts++);
    data_folder = folder;
    HRESULT call = n < environment_calls.size() ? environment_calls[n] : S_OK;
    if (FAILED(call)) return call;
    HRESULT result = n < environment_results.size() ? environment_results[n] : S_OK;
    handler->AddRef();
    browser *b = this;
    soon([b, handler, result] {
      handler->Invoke(result, SUCCEEDED(result) ? b->env : nullptr);
      handler->Release();
    });
    return S_OK;
  };
  return r;
}

void browser::page_posts(const std::wstring &text) { page_posts_from(document, text); }

void browser::page_posts_from(const std::wstring &source, const std::wstring &text) {
  message_args args(source, text, true);
  if (message_handler) message_handler->Invoke(web, &args);
}

void browser::page_posts_non_string(const std::wstring &json) {
  message_args args(document, json, false);
  if (message_handler) message_handler->Invoke(web, &args);
}

bool browser::page_navigates(const std::wstring &uri, bool user) {
  navigation_args args(uri, user);
  if (navigation_handler) navigation_handler->Invoke(web, &args);
  if (!args.cancel_) document = uri;
  return args.cancel_ != FALSE;
}

bool browser::page_opens_window(const std::wstring &uri, bool user) {
  new_window_args args(uri, user);
  if (new_window_handler) new_window_handler->Invoke(web, &args);
  // Unhandled and without a window of the host's, the runtime opens its own.
  bool opened = !args.handled_ && !args.window_set_;
  if (opened) popups.push_back(uri);
  return opened;
}

COREWEBVIEW2_PERMISSION_STATE browser::page_asks(COREWEBVIEW2_PERMISSION_KIND kind) {
  permission_args args(kind);
  if (permission_handler) permission_handler->Invoke(web, &args);
  return args.state_;
}

std::vector<std::wstring> browser::script_texts() const {
  std::vector<std::wstring> texts;
  for (const auto &entry : scripts) texts.push_back(entry.second);
  return texts;
}

}  // namespace fake
