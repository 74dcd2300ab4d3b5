#pragma once
// Self-update: download a release's checksum list, the owner's signature on it and the
// executable (release_asset_name, process.h) on a worker thread, keep the executable only
// when the list's signature verifies under the owner's key and the executable's SHA-256 is
// the listed one, under the same name in the app data folder, then swap it in and restart.
// A copy that can't install by itself downloads nothing and answers where to get the
// release instead (update_notice.h).
#include <string>

#include "app/platform/download.h"

// Where releases are fetched from and whose signature they need: the build's download
// base, time-outs and the owner's signing key from the owner certificate it was built with
// (Base64 of the raw point; empty when built without one). Only tests change it (there is
// deliberately no environment override).
struct update_source {
  std::string base;
  download_limits limits;
  std::string owner_key;
};
update_source &update_source_setting(void);

// True once a verified download waits to be installed (it stays so for the run).
bool update_is_ready(void);

void msw_update(const char *id, const char *args, void *user);
void msw_update_install(const char *id, const char *args, void *user);
