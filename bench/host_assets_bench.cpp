// Benchmark: how long the loopback asset server takes to serve all seven page files of
// this build, one connection per file as the browser does. Prints figures; not a test.
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <string>
#include <vector>

#include "asset_server.h"
#include "test_socket.h"

namespace {

double now_us() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1e6 + ts.tv_nsec / 1e3;
}

size_t fetch(uint16_t port, const std::string &request) {
  test_socket s = test_connect(port);
  if (s < 0) return 0;
  test_send(s, request.data(), request.size());
  static char buf[1 << 16];
  size_t total = 0;
  long n;
  while ((n = test_receive(s, buf, sizeof buf)) > 0) total += (size_t)n;
  test_close(s);
  return total;
}

}  // namespace

int main(int argc, char **argv) {
  int rounds = argc > 1 ? atoi(argv[1]) : 300;
  static asset_site site;
  uint16_t port = 0;
  site.listen_fd = asset_listen(&port);
  if (site.listen_fd < 0) return 1;
  memcpy(site.token, "0123456789abcdef0123456789abcdef", 33);
  site.rows = msw_assets;
  site.count = msw_asset_count;
  asset_start_thread(&site);

  size_t page_bytes = 0;
  for (int i = 0; i < msw_asset_count; i++) page_bytes += msw_assets[i].length;
  std::vector<double> times;
  size_t received = 0;
  for (int r = 0; r < rounds; r++) {
    double start = now_us();
    received = 0;
    for (int i = 0; i < msw_asset_count; i++)
      received += fetch(port, std::string("GET /") + site.token + "/" + msw_assets[i].name +
                                  " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    times.push_back(now_us() - start);
  }
  std::sort(times.begin(), times.end());
  printf("asset server: all %d page files (%zu bytes of content, %zu bytes on the wire) per round\n",
         msw_asset_count, page_bytes, received);
  printf("  rounds %d  min %.0f us  median %.0f us  p95 %.0f us  max %.0f us\n", rounds, times.front(),
         times[times.size() / 2], times[times.size() * 95 / 100], times.back());
  return 0;
}
