#pragma once
// Where the engine gets the WebView2 runtime from: the two things it asks of it (is one
// installed, and make an environment) behind one record, so that tests can hand the
// engine a stand-in browser and the program hands it the installed one.
//
// The libraries found are loaded once and never unloaded: the runtime's objects (its
// environment, controller and view, the threads and callbacks behind them) may outlive
// the engine, and code of an unloaded library would be called through them.
#include <functional>
#include <string>

#include "app/platform/win/webview2_api.h"

namespace webview {

using environment_handler = ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler;

struct browser_runtime {
  // S_OK and the installed runtime's version text; a failure when there is none.
  std::function<HRESULT(std::wstring *version)> find;
  // Starts making a browser environment whose profile lives in `data_folder`; the outcome
  // reaches `handler` later, on this thread, while it pumps messages.
  std::function<HRESULT(const std::wstring &data_folder, environment_handler *handler)> create_environment;
};

// The installed runtime: through the loader library (`loader`, WebView2Loader.dll beside
// the program) when it loads and has the version call, otherwise through the runtime's
// own library, found from the registry (registered_runtime_library).
browser_runtime system_runtime(const wchar_t *loader = L"WebView2Loader.dll");

// The runtime's client-state key under SOFTWARE\Microsoft\EdgeUpdate\ClientState, looked
// up in the 32-bit view of the machine's hive and then of the user's: the path of the
// runtime's EmbeddedBrowserWebView.dll for this processor, or "" when neither names a
// runtime folder.
std::wstring registered_runtime_library();

// A library's "ProductVersion" from its version resource (US English, Unicode), or "".
std::wstring product_version(const std::wstring &path);

}  // namespace webview
