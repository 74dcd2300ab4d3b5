#include "app/services/update.h"

#include <string.h>

#include <atomic>
#include <new>
#include <string>
#include <thread>

#include "app/platform/crypto.h"
#include "app/platform/log.h"
#include "app/platform/process.h"
#include "app/services/app_files.h"
#include "app/services/call.h"
#include "app/services/host_link.h"
#include "app/services/update_check.h"
#include "app/services/update_install.h"
#include "app/services/update_notice.h"
#include "app/services/update_signature.h"

#ifndef MSW_DOWNLOAD_BASE
#define MSW_DOWNLOAD_BASE "https://github.com/mosswire/mosswire"
#endif
// The owner's signing key from the owner certificate the build was given; none without one.
#ifndef MSW_OWNER_KEY
#define MSW_OWNER_KEY ""
#endif

static const char result_ok[] = "{\"ok\":true}";
static const char result_start[] = "{\"err\":\"Couldn't start the update.\"}";
static const char result_download[] = "{\"err\":\"Couldn't download the update.\"}";
static const char result_no_checksum[] =
    "{\"err\":\"That release has no checksum for this computer's download.\"}";
static const char result_mismatch[] =
    "{\"err\":\"The download didn't match its checksum, so it wasn't installed.\"}";
static const char result_unsigned[] =
    "{\"err\":\"The update's signature is missing, so it wasn't installed.\"}";
static const char result_damaged[] =
    "{\"err\":\"The update's signature is damaged, so it wasn't installed.\"}";
static const char result_forged[] =
    "{\"err\":\"The update isn't signed by this network's owner, so it wasn't installed.\"}";

update_source &update_source_setting(void) {
  // A dead network must end in an error, not a wait without end: no connection within
  // 30 s, or 60 s without a byte, fails the download.
  static update_source source = {MSW_DOWNLOAD_BASE, {30, 60, 0}, MSW_OWNER_KEY};
  return source;
}

/*
 * The update's state. `running` is touched only on the UI thread. `ready` is set by the
 * worker before its result is dispatched, and read on the UI thread after that result
 * arrived; a later update clears it while it replaces the file, so a download that fails
 * its check is never installed in place of the one that passed.
 */
struct update_state {
  bool running = false;
  std::atomic<bool> ready{false};
};

static update_state update;

bool update_is_ready(void) { return update.ready; }

struct update_call {
  std::string id;
  std::string tag;
  update_source source;
  std::string result;
};

enum small_file { small_missing, small_unreadable, small_read };

// A small file of the release, read into text and deleted at once.
static small_file fetch_small(const std::string &url, const char *name, long long max_bytes,
                              const download_limits &limits, std::string *text) {
  download_limits small = limits;
  small.max_bytes = max_bytes;
  if (!download_file(url, app_path(name, ""), app_path(name, ".part"), small)) return small_missing;
  bool read = read_app_file(name, text);
  delete_app_file(name);
  return read ? small_read : small_unreadable;
}

static std::string run_update(const update_call &call) {
  unsigned char owner[65];
  bool has_key = owner_key_point(call.source.owner_key, owner);
  const char *reason = update_notice_reason(executable_replacer(executable_path()), has_key);
  if (reason) return update_notice(reason, call.source.base, call.tag);

  std::string release = call.source.base + "/releases/download/" + call.tag + "/";
  const download_limits &limits = call.source.limits;
  // A checksum list is a few lines and its signature one; a server that sends more is not
  // sending either.
  std::string list, signature;
  small_file got = fetch_small(release + "SHA256SUMS.txt", "SHA256SUMS.txt", 1 << 20, limits, &list);
  if (got == small_missing) return result_download;
  if (got == small_unreadable) return result_no_checksum;
  got = fetch_small(release + "SHA256SUMS.txt.sig", "SHA256SUMS.txt.sig", 4096, limits, &signature);
  if (got == small_missing) return result_unsigned;
  signature_verdict verdict = got == small_read ? check_release_signature(list, signature, owner) : signature_damaged;
  if (verdict == signature_damaged) return result_damaged;
  if (verdict != signature_good) return result_forged;
  unsigned char listed[32], actual[32];
  if (!find_checksum(list.data(), list.size(), release_asset_name, listed)) return result_no_checksum;
  // The verified file of an earlier update is about to be replaced by one not yet checked:
  // from here until the check passes there is nothing to install.
  update.ready = false;
  if (!download_file(release + release_asset_name, app_path(release_asset_name, ""),
                     app_path(release_asset_name, ".part"), limits))
    return result_download;
  if (!sha256_file(app_path(release_asset_name, ""), actual) ||
      memcmp(actual, listed, sizeof actual) != 0) {
    delete_app_file(release_asset_name);
    return result_mismatch;
  }
  update.ready = true;
  return result_ok;
}

static void deliver(void *arg) {
  update_call *call = (update_call *)arg;
  update.running = false;
  reply_raw(call->id.c_str(), call->result.c_str());
  delete call;
}

static void update_worker(update_call *call) {
  call->result = run_update(*call);
  if (call->result.compare(0, 7, "{\"err\":") == 0)
    log_failure("update", "%s: %s", call->tag.c_str(), call->result.c_str());
  the_host().dispatch(deliver, call);
}

void msw_update(const char *id, const char *args, void *) {
  std::string tag;
  if (!arg_text(args, 0, &tag) || !release_tag_ok(tag.c_str()) || strlen(id) >= 64 ||
      update.running)
    return reply_raw(id, result_start);
  update_call *call = new (std::nothrow) update_call;
  if (!call) return reply_raw(id, result_start);
  call->id = id;
  call->tag = tag;
  call->source = update_source_setting();
  update.running = true;
  try {
    std::thread(update_worker, call).detach();
  } catch (...) {
    update.running = false;
    delete call;
    reply_raw(id, result_start);
  }
}

void msw_update_install(const char *id, const char *, void *) {
  if (!update.ready) return reply_raw(id, "\"none\"");
  if (install_update(executable_path(), release_asset_name) == install_manual) {
    log_failure("update", "the program's folder can't be changed; the download is shown instead");
    return reply_raw(id, "\"manual\"");
  }
  reply_raw(id, "\"quit\"");
  the_host().terminate();
}
