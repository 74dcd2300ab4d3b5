#include "app/platform/secret_store.h"

#include <windows.h>
#include <dpapi.h>

#include "app/platform/log.h"
#include "app/platform/win/wide.h"

/*
 * DPAPI under the user's logon credentials: the blob opens for this user on this
 * computer (and, with a roaming profile, on the user's other computers of the domain),
 * for no one else. It carries its own integrity check, so a changed byte fails to open.
 * No prompt may ever appear: the program asks at start-up, before any window.
 */
bool secret_protect(const unsigned char *data, size_t length, std::string *sealed) {
  DATA_BLOB in = {(DWORD)length, const_cast<BYTE *>(data)};
  DATA_BLOB out = {0, nullptr};
  if (length > 0x7fffffff ||
      !CryptProtectData(&in, L"mosswire", nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out)) {
    log_failure("secret store", "CryptProtectData failed: %s", error_text(GetLastError()).c_str());
    return false;
  }
  sealed->assign((const char *)out.pbData, out.cbData);
  LocalFree(out.pbData);
  return true;
}

bool secret_unprotect(const std::string &sealed, std::string *data) {
  DATA_BLOB in = {(DWORD)sealed.size(), (BYTE *)const_cast<char *>(sealed.data())};
  DATA_BLOB out = {0, nullptr};
  if (sealed.empty() || sealed.size() > 0x7fffffff ||
      !CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out))
    return false;
  data->assign((const char *)out.pbData, out.cbData);
  SecureZeroMemory(out.pbData, out.cbData);
  LocalFree(out.pbData);
  return true;
}

// DPAPI is reachable whenever the user is logged on: there is never anything to ask.
void secret_store_prepare(void (*done)(void *user), void *user) { done(user); }
