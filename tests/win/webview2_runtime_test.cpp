// Finding the WebView2 runtime: through the loader library when it is there, otherwise
// through the runtime's client-state key in the registry and its own library. A stand-in
// library (fake_webview2_runtime.dll, beside this test) plays both and records its calls.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <string>

#include "app/platform/win/webview2_runtime.h"

namespace {

using namespace webview;

const wchar_t client_state[] =
    L"SOFTWARE\\Microsoft\\EdgeUpdate\\ClientState\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";

std::wstring beside_test(const wchar_t *name) {
  wchar_t path[1024];
  GetModuleFileNameW(nullptr, path, 1024);
  std::wstring folder = path;
  return folder.substr(0, folder.rfind(L'\\') + 1) + name;
}

std::wstring temp_folder() {
  wchar_t base[MAX_PATH];
  GetTempPathW(MAX_PATH, base);
  std::wstring folder = std::wstring(base) + L"msw-runtime-" + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

void set_client_state(HKEY root, const std::wstring &folder) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExW(root, client_state, 0, nullptr, 0, KEY_WRITE | KEY_WOW64_32KEY, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(key, L"EBWebView", 0, REG_SZ, reinterpret_cast<const BYTE *>(folder.c_str()),
                           static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

void clear_client_state(HKEY root) { RegDeleteKeyExW(root, client_state, KEY_WOW64_32KEY, 0); }

// Records what the library reported back.
struct completion final : environment_handler {
  HRESULT result = S_FALSE;
  int calls = 0;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void **out) override {
    *out = this;
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE Invoke(HRESULT hr, ICoreWebView2Environment *) override {
    result = hr;
    calls++;
    return S_OK;
  }
};

std::wstring last_call(const std::wstring &library) {
  HMODULE module = GetModuleHandleW(library.c_str());
  if (!module) return L"(not loaded)";
  auto read = reinterpret_cast<const wchar_t *(*)()>(
      reinterpret_cast<void *>(GetProcAddress(module, "fake_runtime_last_call")));
  return read ? read() : L"(no record)";
}

TEST(Webview2Runtime, NoLoaderAndNoRegisteredRuntimeMeansNone) {
  clear_client_state(HKEY_CURRENT_USER);
  clear_client_state(HKEY_LOCAL_MACHINE);
  EXPECT_EQ(registered_runtime_library(), L"");
  browser_runtime runtime = system_runtime(L"no-such-loader.dll");
  std::wstring version;
  EXPECT_TRUE(FAILED(runtime.find(&version)));
  completion done;
  EXPECT_TRUE(FAILED(runtime.create_environment(L"C:\\data", &done)));
  EXPECT_EQ(done.calls, 0);
}

TEST(Webview2Runtime, RegistryNamesTheRuntimeWhenTheLoaderIsMissing) {
  std::wstring root = temp_folder();
  std::wstring x64 = root + L"\\EBWebView\\x64";
  CreateDirectoryW((root + L"\\EBWebView").c_str(), nullptr);
  CreateDirectoryW(x64.c_str(), nullptr);
  std::wstring library = x64 + L"\\EmbeddedBrowserWebView.dll";
  ASSERT_TRUE(CopyFileW(beside_test(L"fake_webview2_runtime.dll").c_str(), library.c_str(), FALSE));

  clear_client_state(HKEY_LOCAL_MACHINE);
  set_client_state(HKEY_CURRENT_USER, root + L"\\");
  EXPECT_EQ(registered_runtime_library(), library) << "the user's hive, a trailing backslash dropped";
  EXPECT_EQ(product_version(library), L"120.0.2210.91");
  EXPECT_EQ(product_version(root + L"\\missing.dll"), L"");

  // A loader library without the version call counts as no loader.
  for (const wchar_t *loader : {L"no-such-loader.dll", L"kernel32.dll"}) {
    browser_runtime runtime = system_runtime(loader);
    std::wstring version;
    ASSERT_EQ(runtime.find(&version), S_OK);
    EXPECT_EQ(version, L"120.0.2210.91");
    completion done;
    EXPECT_EQ(runtime.create_environment(L"C:\\users\\me\\data", &done), S_OK);
    EXPECT_EQ(done.calls, 1);
    EXPECT_EQ(done.result, E_NOTIMPL) << "the library's own answer reaches the handler";
    EXPECT_EQ(last_call(library), L"internal 1 0 C:\\users\\me\\data no-options");
  }

  // The machine's registration wins over the user's.
  std::wstring other = temp_folder() + L"-machine";
  set_client_state(HKEY_LOCAL_MACHINE, other);
  EXPECT_EQ(registered_runtime_library(), other + L"\\EBWebView\\x64\\EmbeddedBrowserWebView.dll");
  browser_runtime machine = system_runtime(L"no-such-loader.dll");
  std::wstring version;
  EXPECT_TRUE(FAILED(machine.find(&version))) << "a registered folder without the library is no runtime";
  clear_client_state(HKEY_LOCAL_MACHINE);
  clear_client_state(HKEY_CURRENT_USER);
}

TEST(Webview2Runtime, LoaderLibraryIsAskedFirst) {
  std::wstring loader = temp_folder() + L"\\WebView2Loader.dll";
  ASSERT_TRUE(CopyFileW(beside_test(L"fake_webview2_runtime.dll").c_str(), loader.c_str(), FALSE));
  clear_client_state(HKEY_LOCAL_MACHINE);
  clear_client_state(HKEY_CURRENT_USER);
  browser_runtime runtime = system_runtime(loader.c_str());
  std::wstring version;
  ASSERT_EQ(runtime.find(&version), S_OK);
  EXPECT_EQ(version, L"121.0.1.2");
  EXPECT_EQ(last_call(loader), L"version (null)");
  completion done;
  EXPECT_EQ(runtime.create_environment(L"D:\\profile", &done), S_OK);
  EXPECT_EQ(done.result, E_NOTIMPL);
  EXPECT_EQ(last_call(loader), L"loader (null) D:\\profile no-options");
}

// The runtime's objects can outlive the engine and the record that found them: the library
// behind them stays loaded until the process ends.
TEST(Webview2Runtime, TheLibraryStaysLoadedAfterTheRecordIsGone) {
  std::wstring loader = temp_folder() + L"\\kept\\WebView2Loader.dll";
  CreateDirectoryW((temp_folder() + L"\\kept").c_str(), nullptr);
  ASSERT_TRUE(CopyFileW(beside_test(L"fake_webview2_runtime.dll").c_str(), loader.c_str(), FALSE));
  {
    browser_runtime runtime = system_runtime(loader.c_str());
    std::wstring version;
    ASSERT_EQ(runtime.find(&version), S_OK);
  }
  EXPECT_NE(GetModuleHandleW(loader.c_str()), nullptr);
}

}  // namespace
