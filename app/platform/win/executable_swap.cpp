#include <windows.h>

#include "app/platform/log.h"
#include "app/platform/process.h"
#include "app/platform/win/wide.h"

/*
 * Windows lets a running program's file be renamed, not replaced or deleted. So the
 * running file moves aside to "<executable>.old" (the process goes on from its mapped
 * image), and the verified download takes the name, copied across volumes when the app
 * data folder lies on another one and flushed before the move returns. If that fails the
 * old file is renamed back, so a runnable program stays at the path at every step.
 */
bool executable_swap(const std::string &executable, const std::string &download) {
  if (executable.empty()) return false;
  std::wstring target = widen(executable), old_path = widen(executable + ".old"),
               source = widen(download);
  DWORD attributes = GetFileAttributesW(source.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
  // A copy left by an earlier update; if it is still running this fails, and so does
  // the move below, which then keeps everything as it is.
  DeleteFileW(old_path.c_str());
  if (!MoveFileExW(target.c_str(), old_path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    log_failure("update", "the running program can't be moved aside: %s",
                error_text(GetLastError()).c_str());
    return false;
  }
  if (MoveFileExW(source.c_str(), target.c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH))
    return true;
  log_failure("update", "the new program can't take its place: %s", error_text(GetLastError()).c_str());
  if (!MoveFileExW(old_path.c_str(), target.c_str(), 0))
    log_failure("update", "the program can't be put back: %s", error_text(GetLastError()).c_str());
  return false;
}

/*
 * Nothing but the program itself replaces its file on Windows. Whether it can is asked of
 * the folder the way the swap will use it: a file made and dropped there (Program Files
 * refuses this without elevation), and a program file not marked read-only.
 */
executable_owner executable_replacer(const std::string &executable) {
  std::wstring path = widen(executable);
  size_t slash = path.find_last_of(L"\\/");
  DWORD attributes = path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(path.c_str());
  if (slash == std::wstring::npos || attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
    return owner_nobody;
  std::wstring probe = path.substr(0, slash) + L"\\mosswire-" + std::to_wstring(GetCurrentProcessId()) + L".check";
  HANDLE file = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) return owner_nobody;
  CloseHandle(file);
  return owner_self;
}
