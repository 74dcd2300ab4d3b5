#include "app/platform/download.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <mutex>

#include "app/platform/files.h"
#include "app/platform/log.h"

struct part_file {
  int fd;
  long long written, max_bytes;
};

static size_t write_part(char *data, size_t size, size_t count, void *user) {
  part_file *part = (part_file *)user;
  size_t total = size * count, done = 0;
  if (part->max_bytes && part->written + (long long)total > part->max_bytes) return 0;
  while (done < total) {
    ssize_t n = write(part->fd, data + done, total - done);
    if (n <= 0) return 0;  // libcurl then ends the transfer with CURLE_WRITE_ERROR
    done += (size_t)n;
  }
  part->written += (long long)total;
  return total;
}

/*
 * Release hosts answer with a redirect to a storage host, so redirects are followed, but
 * never from HTTPS down to plain HTTP: an address that starts secure stays secure. The
 * time-outs bound only the silence, not the whole transfer, so a slow but live line still
 * finishes while a dead network or a server that stops answering ends the download.
 */
static bool fetch(const std::string &url, int fd, const download_limits &limits) {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  CURL *curl = curl_easy_init();
  if (!curl) return false;
  bool secure = url.compare(0, 8, "https://") == 0;
  const char *protocols = secure ? "https" : "http,https";
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, protocols);
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, protocols);
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, limits.connect_seconds);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, limits.stall_seconds);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, "mosswire");
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, write_part);
  part_file part = {fd, 0, limits.max_bytes};
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &part);
  CURLcode rc = curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_easy_cleanup(curl);
  if (rc != CURLE_OK)
    log_failure("download", "%s: %s (HTTP status %ld)", url.c_str(), curl_easy_strerror(rc), status);
  return rc == CURLE_OK;
}

bool download_file(const std::string &url, const std::string &path, const std::string &part_path,
                   const download_limits &limits) {
  file_delete(part_path);
  int fd = open(part_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    log_failure("download", "can't create %s", part_path.c_str());
    return false;
  }
  bool ok = fetch(url, fd, limits) && fsync(fd) == 0;
  if (close(fd) != 0) ok = false;
  if (ok && rename(part_path.c_str(), path.c_str()) != 0) ok = false;
  if (!ok) {
    file_delete(part_path);
    return false;
  }
  folder_sync(path);
  return true;
}
