#include "app/platform/autostart.h"

#include <windows.h>

#include "app/platform/log.h"
#include "app/platform/process.h"
#include "app/platform/win/autostart_entry.h"
#include "app/platform/win/wide.h"

const wchar_t run_key_path[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t run_value_name[] = L"mosswire";

bool run_command_text(const std::string &executable, std::wstring *command) {
  // The path in quotes, since it may hold spaces; a quote can't be part of a Windows
  // file name, so one in the text means it is no usable path.
  if (executable.empty() || executable.find_first_of(std::string("\"\n\r\0", 4)) != std::string::npos)
    return false;
  *command = L"\"" + widen(executable) + L"\"";
  return true;
}

bool set_run_at_login(bool on) {
  HKEY key = nullptr;
  LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, run_key_path, 0, nullptr, 0,
                                   KEY_SET_VALUE, nullptr, &key, nullptr);
  std::wstring command;
  if (status == ERROR_SUCCESS) {
    if (!on) {
      status = RegDeleteValueW(key, run_value_name);
      if (status == ERROR_FILE_NOT_FOUND) status = ERROR_SUCCESS;  // it was never there
    } else if (run_command_text(executable_path(), &command)) {
      // One value written in one call: it is there whole or not at all.
      status = RegSetValueExW(key, run_value_name, 0, REG_SZ, (const BYTE *)command.c_str(),
                              (DWORD)((command.size() + 1) * sizeof(wchar_t)));
    } else {
      status = ERROR_BAD_PATHNAME;
    }
    RegCloseKey(key);
  }
  if (status != ERROR_SUCCESS)
    log_failure("autostart", "couldn't %s the Run key value: %s", on ? "write" : "remove",
                error_text((unsigned long)status).c_str());
  return status == ERROR_SUCCESS;
}
