#include "app/platform/win/webview2_runtime.h"

#include <memory>

namespace webview {

namespace {

const wchar_t client_state_key[] =
    L"SOFTWARE\\Microsoft\\EdgeUpdate\\ClientState\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";
const wchar_t runtime_library[] = L"\\EBWebView\\x64\\EmbeddedBrowserWebView.dll";

// The libraries one runtime record loaded (kept for the life of the process).
struct loaded_runtime {
  HMODULE loader = nullptr;
  HMODULE runtime = nullptr;
  std::wstring runtime_path;
  GetAvailableCoreWebView2BrowserVersionString_fn loader_version = nullptr;
  CreateCoreWebView2EnvironmentWithOptions_fn loader_create = nullptr;
};

std::wstring read_string_value(HKEY root, const wchar_t *key, const wchar_t *name) {
  HKEY opened = nullptr;
  if (RegOpenKeyExW(root, key, 0, KEY_READ | KEY_WOW64_32KEY, &opened) != ERROR_SUCCESS) return L"";
  wchar_t buffer[1024];
  DWORD type = 0, size = sizeof buffer - sizeof(wchar_t);
  LSTATUS status = RegQueryValueExW(opened, name, nullptr, &type, reinterpret_cast<BYTE *>(buffer), &size);
  RegCloseKey(opened);
  if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return L"";
  buffer[size / sizeof(wchar_t)] = 0;  // a stored value need not end with a NUL
  return buffer;
}

}  // namespace

std::wstring registered_runtime_library() {
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    std::wstring folder = read_string_value(root, client_state_key, L"EBWebView");
    while (!folder.empty() && folder.back() == L'\\') folder.pop_back();
    if (!folder.empty()) return folder + runtime_library;
  }
  return L"";
}

std::wstring product_version(const std::wstring &path) {
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0) return L"";
  std::unique_ptr<BYTE[]> data(new BYTE[size]);
  if (!GetFileVersionInfoW(path.c_str(), 0, size, data.get())) return L"";
  wchar_t *text = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(data.get(), L"\\StringFileInfo\\040904B0\\ProductVersion", reinterpret_cast<void **>(&text),
                      &length) ||
      !text || length == 0)
    return L"";
  return std::wstring(text, wcsnlen(text, length));
}

browser_runtime system_runtime(const wchar_t *loader) {
  auto state = std::make_shared<loaded_runtime>();
  browser_runtime runtime;
  runtime.find = [state, loader](std::wstring *version) -> HRESULT {
    state->loader = LoadLibraryW(loader);
    if (state->loader) {
      state->loader_version = reinterpret_cast<GetAvailableCoreWebView2BrowserVersionString_fn>(
          reinterpret_cast<void *>(GetProcAddress(state->loader, "GetAvailableCoreWebView2BrowserVersionString")));
      state->loader_create = reinterpret_cast<CreateCoreWebView2EnvironmentWithOptions_fn>(
          reinterpret_cast<void *>(GetProcAddress(state->loader, "CreateCoreWebView2EnvironmentWithOptions")));
    }
    if (state->loader_version && state->loader_create) {
      LPWSTR text = nullptr;
      HRESULT hr = state->loader_version(nullptr, &text);
      if (text) {
        *version = text;
        CoTaskMemFree(text);
      }
      // The call succeeds with no text when no runtime is installed.
      return SUCCEEDED(hr) && !version->empty() ? S_OK : HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    }
    // No usable loader library: the runtime's own library, where the registry says.
    state->loader_version = nullptr;
    state->loader_create = nullptr;
    state->runtime_path = registered_runtime_library();
    if (state->runtime_path.empty()) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    *version = product_version(state->runtime_path);
    return version->empty() ? HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) : S_OK;
  };
  runtime.create_environment = [state](const std::wstring &data_folder, environment_handler *handler) -> HRESULT {
    if (state->loader_create) return state->loader_create(nullptr, data_folder.c_str(), nullptr, handler);
    if (state->runtime_path.empty()) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    if (!state->runtime) state->runtime = LoadLibraryW(state->runtime_path.c_str());
    if (!state->runtime) return HRESULT_FROM_WIN32(GetLastError());
    auto create = reinterpret_cast<CreateWebViewEnvironmentWithOptionsInternal_fn>(
        reinterpret_cast<void *>(GetProcAddress(state->runtime, "CreateWebViewEnvironmentWithOptionsInternal")));
    if (!create) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    return create(TRUE, 0, data_folder.c_str(), nullptr, handler);
  };
  return runtime;
}

}  // namespace webview
