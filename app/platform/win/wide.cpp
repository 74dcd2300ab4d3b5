#include "app/platform/win/wide.h"

#include <windows.h>
#include <stdlib.h>

std::wstring widen(const std::string &text) {
  if (text.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring out((size_t)n, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), &out[0], n);
  return out;
}

static int narrowed_size(const wchar_t *text, size_t units) {
  if (units == 0 || units > 0x7fffffff) return 0;
  return WideCharToMultiByte(CP_UTF8, 0, text, (int)units, nullptr, 0, nullptr, nullptr);
}

std::string narrow(const std::wstring &text) {
  int n = narrowed_size(text.data(), text.size());
  if (n <= 0) return std::string();
  std::string out((size_t)n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), &out[0], n, nullptr, nullptr);
  return out;
}

char *narrow_owned(const wchar_t *text, size_t units) {
  int n = narrowed_size(text, units);
  if (n <= 0) return nullptr;
  char *out = (char *)malloc((size_t)n + 1);
  if (!out) return nullptr;
  WideCharToMultiByte(CP_UTF8, 0, text, (int)units, out, n, nullptr, nullptr);
  out[n] = '\0';
  return out;
}

std::string error_text(unsigned long code) {
  wchar_t *buffer = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, code, 0, (wchar_t *)&buffer, 0, nullptr);
  std::string text = n ? narrow(std::wstring(buffer, n)) : std::string();
  if (buffer) LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
    text.pop_back();
  if (text.empty()) text = "error " + std::to_string(code);
  return text;
}
