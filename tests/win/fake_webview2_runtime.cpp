// A stand-in for the WebView2 runtime's and loader's libraries, with their entry points and
// a version resource: the engine's runtime lookup loads it from where the registry or
// the loader name says and calls it. It records the last call for the test to read.
#include <windows.h>

#include <string>

#include "app/platform/win/webview2_api.h"

using namespace webview;

namespace {
std::wstring last_call;

std::wstring folder_text(LPCWSTR folder) { return folder ? folder : L"(null)"; }
}  // namespace

extern "C" {

__declspec(dllexport) const wchar_t *fake_runtime_last_call() { return last_call.c_str(); }

__declspec(dllexport) HRESULT STDAPICALLTYPE CreateWebViewEnvironmentWithOptionsInternal(
    BOOL check_running, int runtime_type, LPCWSTR user_data_folder, IUnknown *options,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler *handler) {
  last_call = L"internal " + std::to_wstring(check_running) + L" " + std::to_wstring(runtime_type) + L" " +
              folder_text(user_data_folder) + (options ? L" options" : L" no-options");
  if (handler) handler->Invoke(E_NOTIMPL, nullptr);
  return S_OK;
}

__declspec(dllexport) HRESULT STDAPICALLTYPE GetAvailableCoreWebView2BrowserVersionString(LPCWSTR browser_folder,
                                                                                         LPWSTR *version) {
  last_call = L"version " + folder_text(browser_folder);
  const wchar_t text[] = L"121.0.1.2";
  *version = static_cast<LPWSTR>(CoTaskMemAlloc(sizeof text));
  memcpy(*version, text, sizeof text);
  return S_OK;
}

__declspec(dllexport) HRESULT STDAPICALLTYPE CreateCoreWebView2EnvironmentWithOptions(
    LPCWSTR browser_folder, LPCWSTR user_data_folder, IUnknown *options,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler *handler) {
  last_call = L"loader " + folder_text(browser_folder) + L" " + folder_text(user_data_folder) +
              (options ? L" options" : L" no-options");
  if (handler) handler->Invoke(E_NOTIMPL, nullptr);
  return S_OK;
}
}
