#include "app/platform/process.h"

#include <windows.h>

#include "app/platform/win/wide.h"

const char release_asset_name[] = "mosswire.exe";

std::string executable_path(void) {
  // Grown until the whole path fits: a long path may exceed MAX_PATH.
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, &buffer[0], (DWORD)buffer.size());
    if (n == 0) return std::string();
    if (n < buffer.size()) return narrow(buffer.substr(0, n));
    if (buffer.size() >= 32768) return std::string();
    buffer.resize(buffer.size() * 2);
  }
}
