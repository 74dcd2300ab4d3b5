#include "stand_in_runtime.h"

#include <windows.h>

std::wstring windows_path(const std::string &path) {
  std::wstring wide(path.begin(), path.end());
  if (path.empty() || path[0] != '/') return wide;
  // Wine's own mapping of a Unix path; every prefix maps / as Z: otherwise.
  typedef LPWSTR(CDECL * dos_name_fn)(LPCSTR);
  auto dos_name = reinterpret_cast<dos_name_fn>(
      reinterpret_cast<void *>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
  if (dos_name) {
    if (LPWSTR converted = dos_name(path.c_str())) {
      std::wstring out = converted;
      HeapFree(GetProcessHeap(), 0, converted);
      return out;
    }
  }
  std::wstring out = L"Z:" + wide;
  for (wchar_t &c : out)
    if (c == L'/') c = L'\\';
  return out;
}

bool register_stand_in_runtime(const std::string &stand_in_dll, const wchar_t *folder, std::wstring *root) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  *root = std::wstring(temp) + folder + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(root->c_str(), nullptr);
  CreateDirectoryW((*root + L"\\EBWebView").c_str(), nullptr);
  CreateDirectoryW((*root + L"\\EBWebView\\x64").c_str(), nullptr);
  if (!CopyFileW(windows_path(stand_in_dll).c_str(), (*root + L"\\EBWebView\\x64\\EmbeddedBrowserWebView.dll").c_str(),
                 FALSE))
    return false;
  HKEY key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER,
                      L"SOFTWARE\\Microsoft\\EdgeUpdate\\ClientState\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}", 0, nullptr,
                      0, KEY_WRITE | KEY_WOW64_32KEY, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return false;
  LONG set = RegSetValueExW(key, L"EBWebView", 0, REG_SZ, reinterpret_cast<const BYTE *>(root->c_str()),
                            static_cast<DWORD>((root->size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  return set == ERROR_SUCCESS;
}
