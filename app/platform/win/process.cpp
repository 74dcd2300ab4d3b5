#include "app/platform/process.h"

#include <windows.h>

#include "app/platform/log.h"
#include "app/platform/win/wide.h"

const char release_asset_name[] = "mosswire.exe";

// Windows raises no signal when a peer goes away (a send just fails), so there is
// nothing to ready.
void process_prepare(void) {}

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

/*
 * No handle is inherited: the new copy must not hold this one's listening socket or
 * files open. It gets this process's environment and current folder, and the path in
 * quotes as its first argument (a path may hold spaces; it can't hold a quote).
 */
bool relaunch_after_update(const std::string &executable) {
  std::wstring program = widen(executable);
  if (program.empty() || program.find(L'"') != std::wstring::npos) return false;
  std::wstring command = L"\"" + program + L"\" --after-update";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started = {};
  if (!CreateProcessW(program.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &started)) {
    log_failure("update", "the new copy can't be started: %s", error_text(GetLastError()).c_str());
    return false;
  }
  CloseHandle(started.hThread);
  CloseHandle(started.hProcess);
  return true;
}
