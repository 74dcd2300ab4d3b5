#pragma once
// Self-update: download a release's executable (release_asset_name, process.h) and
// checksum list on a worker thread, keep the executable only when its SHA-256 matches,
// under the same name in the app data folder, then swap it in and restart.
#include <string>

#include "app/platform/download.h"

// Where releases are fetched from: the build's download base and time-outs. Only tests
// point it elsewhere (there is deliberately no environment override).
struct update_source {
  std::string base;
  download_limits limits;
};
update_source &update_source_setting(void);

// True once a verified download waits to be installed (it stays so for the run).
bool update_is_ready(void);

void msw_update(const char *id, const char *args, void *user);
void msw_update_install(const char *id, const char *args, void *user);
