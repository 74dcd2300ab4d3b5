#include "app/services/vault.h"

#include <string.h>

#include <string>

#include "app/common/json_text.h"
#include "app/platform/autostart.h"
#include "app/platform/log.h"
#include "app/services/app_files.h"
#include "app/services/call.h"
#include "app/services/host_link.h"
#include "app/services/vault_worker.h"

static void read_vault(const std::string &id) {
  std::string bytes;
  if (!read_app_file("vault.json", &bytes)) return reply_null(id.c_str());
  reply_string(id.c_str(), bytes.data(), bytes.size());
}

// The text is decoded over the arguments themselves: a vault of megabytes is not copied
// again on its way to the disk.
static void write_vault(const std::string &id, std::string *args) {
  if (!json_arg_in_place(args, 0)) return reply_bool(id.c_str(), false);
  const std::string &text = *args;
  // An escaped zero in the page's text ends it, as it would for any C reader of the file.
  bool written = write_app_file("vault.json", text.c_str(), strlen(text.c_str()));
  if (!written) log_failure("vault", "vault.json couldn't be written; the old one stays");
  reply_bool(id.c_str(), written);
}

void vault_job_run(vault_job_kind kind, const std::string &id, std::string *args) {
  if (kind == vault_job_kind::read) read_vault(id);
  else write_vault(id, args);
}

// Both run on the vault's worker: a large vault's two syncs would otherwise hold the
// window still, and a read queued behind a write sees what that write left. Without a
// worker the call is still answered, here.
void msw_read_vault(const char *id, const char *args, void *) {
  if (!vault_job_add(vault_job_kind::read, id, args)) read_vault(id);
}

void msw_write_vault(const char *id, const char *args, void *) {
  if (vault_job_add(vault_job_kind::write, id, args)) return;
  std::string text = args ? args : "";
  write_vault(id, &text);
}

/*
 * The wipe erases what ties this device to the user: the black-out key and the session
 * autostart first (they outlive the page), then the device key, so that a vault that
 * somehow survives can no longer be opened, then the vault and the attempt record. Each
 * step runs whatever the one before did. Update files and the owner key file stay.
 */
void msw_wipe(const char *id, const char *, void *) {
  // A write asked for before the wipe must not land after it and bring the vault back.
  vault_jobs_wait();
  the_host().set_blackout_key(nullptr, nullptr, nullptr, nullptr);
  set_run_at_login(false);
  delete_app_file("device.key");
  delete_app_file("vault.json");
  delete_app_file("vault.json.tmp");
  delete_app_file("attempts.txt");
  reply_bool(id, true);
}
