#include <windows.h>
#include <shellapi.h>

#include "app/platform/files.h"
#include "app/platform/log.h"
#include "app/platform/win/wide.h"

// Explorer with the file selected in its folder. Explorer reads only backslashes in a
// /select path, and the path is quoted because it may hold commas and spaces.
bool show_in_file_manager(const std::string &path) {
  std::wstring file = widen(path);
  if (file.empty() || file.find(L'"') != std::wstring::npos) return false;
  for (wchar_t &c : file)
    if (c == L'/') c = L'\\';
  std::wstring parameters = L"/select,\"" + file + L"\"";
  HINSTANCE started = ShellExecuteW(nullptr, L"open", L"explorer.exe", parameters.c_str(), nullptr,
                                    SW_SHOWNORMAL);
  // Values above 32 mean started; below are the shell's error codes.
  if ((INT_PTR)started > 32) return true;
  log_failure("file manager", "Explorer can't be started (code %d)", (int)(INT_PTR)started);
  return false;
}
