#include "app/platform/files.h"

#include <windows.h>
#include <shlobj.h>
#include <stdint.h>

#include <mutex>

#include "app/platform/win/folders.h"
#include "app/platform/win/wide.h"

std::string environment_folder(const wchar_t *name) {
  wchar_t buffer[MAX_PATH * 2];
  DWORD n = GetEnvironmentVariableW(name, buffer, sizeof buffer / sizeof buffer[0]);
  if (n == 0 || n >= sizeof buffer / sizeof buffer[0]) return std::string();
  return narrow(std::wstring(buffer, n));
}

std::string known_folder(const GUID &id) {
  wchar_t *path = nullptr;
  std::string out;
  if (SUCCEEDED(SHGetKnownFolderPath(id, KF_FLAG_CREATE, nullptr, &path))) out = narrow(path);
  CoTaskMemFree(path);
  return out;
}

static bool is_folder(const std::wstring &path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Either separator: paths made above the platform layer join with "/".
static size_t last_separator(const std::string &path) { return path.find_last_of("/\\"); }

bool folder_make(const std::string &path, unsigned) {
  // Rights come from the parent's access list; under the user's profile only the user
  // (and the system and administrators) may enter.
  if (path.empty()) return false;
  std::wstring wide = widen(path);
  if (GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES) return is_folder(wide);
  size_t slash = last_separator(path);
  if (slash != std::string::npos && slash > 0 && path[slash - 1] != ':' &&
      !folder_make(path.substr(0, slash), 0))
    return false;
  if (CreateDirectoryW(wide.c_str(), nullptr)) return true;
  return GetLastError() == ERROR_ALREADY_EXISTS && is_folder(wide);
}

std::string roaming_folder(void) {
  std::string folder = environment_folder(L"APPDATA");
  return folder.empty() ? known_folder(FOLDERID_RoamingAppData) : folder;
}

const std::string &app_folder(void) {
  static std::string folder;
  static std::once_flag once;
  std::call_once(once, [] {
    folder = roaming_folder() + "\\mosswire";
    folder_make(folder, 0700);
  });
  return folder;
}

static HANDLE open_for_reading(const std::string &path) {
  // Others may go on writing, renaming or deleting while the file is read; a replace
  // then swaps the name, never the bytes under this handle.
  HANDLE file = CreateFileW(widen(path).c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  // Only files on a disk: not a named pipe, a console or a device put in a file's place.
  if (file != INVALID_HANDLE_VALUE && GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

bool file_read_whole(const std::string &path, std::string *out) {
  HANDLE file = open_for_reading(path);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size;
  bool ok = GetFileSizeEx(file, &size) && size.QuadPart >= 0 && size.QuadPart <= INT32_MAX;
  if (ok) {
    std::string data;
    try {
      data.resize((size_t)size.QuadPart);
    } catch (...) {
      ok = false;
    }
    size_t done = 0;
    while (ok && done < data.size()) {
      DWORD n = 0;
      if (!ReadFile(file, &data[done], (DWORD)(data.size() - done), &n, nullptr) || n == 0)
        ok = false;  // an error, or the file shrank under us: a short read
      else done += n;
    }
    if (ok) out->swap(data);
  }
  CloseHandle(file);
  return ok;
}

bool file_read_head(const std::string &path, size_t limit, std::string *out) {
  HANDLE file = open_for_reading(path);
  if (file == INVALID_HANDLE_VALUE) return false;
  std::string data(limit, '\0');
  size_t done = 0;
  bool ok = true;
  while (done < limit) {
    DWORD n = 0;
    DWORD want = limit - done > 0x10000000 ? 0x10000000 : (DWORD)(limit - done);
    if (!ReadFile(file, &data[done], want, &n, nullptr)) ok = false;
    if (!ok || n == 0) break;
    done += n;
  }
  CloseHandle(file);
  if (ok) out->assign(data, 0, done);
  return ok;
}

// MOVEFILE_WRITE_THROUGH already waits until the rename is on disk; there is no handle
// for a folder's entries to flush on its own.
bool folder_sync(const std::string &) { return true; }

/*
 * Atomic replace: the bytes go to a fresh temporary file and are flushed to disk before
 * MoveFileExW puts it over the real name, and the move returns only once it is on disk
 * itself (MOVEFILE_WRITE_THROUGH). Until the move the old file is untouched; every
 * failure removes the temporary file. Permission bits have no meaning here: the new
 * file takes the folder's access list.
 */
bool file_replace_atomic(const std::string &path, const std::string &tmp_path,
                         const char *bytes, size_t length, unsigned) {
  std::wstring wide_tmp = widen(tmp_path);
  DeleteFileW(wide_tmp.c_str());
  HANDLE file = CreateFileW(wide_tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  size_t done = 0;
  while (ok && done < length) {
    DWORD piece = length - done > 0x10000000 ? 0x10000000 : (DWORD)(length - done);
    DWORD n = 0;
    if (!WriteFile(file, bytes + done, piece, &n, nullptr) || n == 0) ok = false;
    else done += n;
  }
  if (ok && !FlushFileBuffers(file)) ok = false;
  if (!CloseHandle(file)) ok = false;
  if (ok && !MoveFileExW(wide_tmp.c_str(), widen(path).c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    ok = false;
  if (!ok) DeleteFileW(wide_tmp.c_str());
  return ok;
}

bool file_delete(const std::string &path) {
  if (DeleteFileW(widen(path).c_str())) return true;
  DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool file_exists(const std::string &path) {
  return GetFileAttributesW(widen(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool owner_key_path(std::string *path) {
  // The owner's tools (Node) take the home folder from %USERPROFILE%.
  std::string home = environment_folder(L"USERPROFILE");
  if (home.empty()) home = known_folder(FOLDERID_Profile);
  if (home.empty()) return false;
  std::string p = home + "\\.mosswire\\owner.json";
  if (p.size() >= 1024) return false;
  *path = p;
  return true;
}
