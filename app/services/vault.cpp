#include "app/services/vault.h"

#include <string.h>

#include <string>

#include "app/platform/autostart.h"
#include "app/platform/log.h"
#include "app/services/app_files.h"
#include "app/services/call.h"
#include "app/services/host_link.h"

void msw_read_vault(const char *id, const char *, void *) {
  std::string bytes;
  if (!read_app_file("vault.json", &bytes)) return reply_null(id);
  reply_string(id, bytes.data(), bytes.size());
}

void msw_write_vault(const char *id, const char *args, void *) {
  std::string text;
  if (!arg_text(args, 0, &text)) return reply_bool(id, false);
  // An escaped zero in the page's text ends it, as it would for any C reader of the file.
  bool written = write_app_file("vault.json", text.c_str(), strlen(text.c_str()));
  if (!written) log_failure("vault", "vault.json couldn't be written; the old one stays");
  reply_bool(id, written);
}

/*
 * The wipe erases what ties this device to the user: the black-out key and the session
 * autostart first (they outlive the page), then the device key, so that a vault that
 * somehow survives can no longer be opened, then the vault and the attempt record. Each
 * step runs whatever the one before did. Update files and the owner key file stay.
 */
void msw_wipe(const char *id, const char *, void *) {
  the_host().set_blackout_key(nullptr, nullptr);
  set_run_at_login(false);
  delete_app_file("device.key");
  delete_app_file("vault.json");
  delete_app_file("vault.json.tmp");
  delete_app_file("attempts.txt");
  reply_bool(id, true);
}
