#pragma once
// HTTP(S) downloads. Any thread.
#include <string>

struct download_limits {
  long connect_seconds;  // give up when no connection is made within this time
  long stall_seconds;    // give up when no byte arrives for this long
  long long max_bytes;   // give up when the body grows beyond this; 0 for no bound
};

// Fetches url into part_path (private to the user), following redirects (never from
// HTTPS down to HTTP), then renames it to path. On any failure (network, time-out, HTTP
// error status, disk) part_path is removed, path is left as it was, and false is answered.
bool download_file(const std::string &url, const std::string &path, const std::string &part_path,
                   const download_limits &limits);
