// The private test home of tests/services/test_env.h for the Windows build: %APPDATA% and
// %USERPROFILE% point into a fresh temporary folder, so the app data folder and the owner
// key file are the test's own.
#include "tests/services/test_env.h"

#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

#include "app/platform/win/wide.h"

static std::string home;

void isolate_environment(bool) {
  // No session bus on Windows: keep_bus has nothing to keep.
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  wchar_t unique[64];
  swprintf(unique, 64, L"msw-services-%lu-%lu", GetCurrentProcessId(), GetTickCount());
  std::wstring base = std::wstring(temp) + unique;
  CreateDirectoryW(base.c_str(), nullptr);
  home = narrow(base);
  SetEnvironmentVariableW(L"USERPROFILE", base.c_str());
  SetEnvironmentVariableW(L"APPDATA", (base + L"\\config").c_str());
  atexit([] { remove_tree(home); });
}

const std::string &test_home(void) { return home; }

std::string make_folder(const char *name) {
  std::string path = home + "/" + name;
  CreateDirectoryW(widen(path).c_str(), nullptr);
  return path;
}

bool write_text(const std::string &path, const std::string &bytes) {
  FILE *f = _wfopen(widen(path).c_str(), L"wb");
  if (!f) return false;
  bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return fclose(f) == 0 && ok;
}

std::string read_text(const std::string &path) {
  std::string out;
  if (FILE *f = _wfopen(widen(path).c_str(), L"rb")) {
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) out.append(buffer, n);
    fclose(f);
  }
  return out;
}

bool exists(const std::string &path) {
  return GetFileAttributesW(widen(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Windows files have access lists, not permission bits: a file that is there reads as
// the owner's read and write, a folder as the owner's read, write and search.
unsigned mode_of(const std::string &path) {
  DWORD attributes = GetFileAttributesW(widen(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return 0;
  return attributes & FILE_ATTRIBUTE_DIRECTORY ? 0700 : 0600;
}

std::string run_command(const std::string &command) {
  std::string out;
  if (FILE *p = _wpopen(widen(command).c_str(), L"rb")) {
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
    _pclose(p);
  }
  return out;
}

static void remove_below(const std::wstring &path) {
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring full = path + L"\\" + name;
      SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) remove_below(full);
      else DeleteFileW(full.c_str());
    } while (FindNextFileW(find, &entry));
    FindClose(find);
  }
  RemoveDirectoryW(path.c_str());
}

void remove_tree(const std::string &path) {
  if (path.size() > 5) remove_below(widen(path));
}
