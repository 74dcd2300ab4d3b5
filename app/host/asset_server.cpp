#include "asset_server.h"

#include <stdio.h>
#include <string.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "app/platform/loopback.h"

const char asset_not_found[] = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
static_assert(sizeof(asset_not_found) - 1 == 64, "the 404 answer is 64 bytes");

loopback_socket asset_listen(uint16_t *port) { return loopback_listen(port); }

const asset *asset_for_request(const char *request, const asset_site &site) {
  char prefix[40];
  int n = snprintf(prefix, sizeof prefix, "GET /%s/", site.token);
  if (n != 38 || strncmp(request, prefix, (size_t)n) != 0) return nullptr;
  // The name runs to the HTTP version, a query or a fragment; nothing is decoded, so
  // "/TOKEN/app%2Ejs" or "/TOKEN/sub/app.js" simply match no row.
  const char *name = request + n;
  size_t len = strcspn(name, " ?#");
  if (len == 0) {
    name = "index.html";
    len = strlen(name);
  }
  for (int i = 0; i < site.count; i++) {
    const asset &row = site.rows[i];
    if (strlen(row.name) == len && memcmp(row.name, name, len) == 0) return &row;
  }
  return nullptr;
}

int asset_send_all(loopback_socket s, const void *bytes, size_t length) { return loopback_send_all(s, bytes, length); }

namespace {

using deadline_clock = std::chrono::steady_clock;

int ms_left(deadline_clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - deadline_clock::now());
  return left.count() > 0 ? (int)left.count() : 0;
}

// Everything out before the deadline, in pieces of at most 65536 bytes: 0, or -1 when the
// peer went away or the time ran out.
int send_until(loopback_socket fd, const void *bytes, size_t length, deadline_clock::time_point deadline) {
  const char *p = (const char *)bytes;
  while (length > 0) {
    int left = ms_left(deadline);
    if (left == 0) return -1;
    long sent = loopback_send_within(fd, p, length < 65536 ? length : 65536, left);
    if (sent < 0) return -1;
    p += sent;
    length -= (size_t)sent;
  }
  return 0;
}

// The request has until its deadline, counted from accept, so a client that trickles
// bytes cannot stretch it; the answer, made from what arrived, then has as long again to
// go out, so a client that does not read cannot keep the thread either.
void serve_until(loopback_socket fd, const asset_site &site, deadline_clock::time_point deadline) {
  char request[ASSET_REQUEST_MAX + 1];
  size_t got = 0;
  request[0] = 0;
  do {
    long r = loopback_receive_within(fd, request + got, ASSET_REQUEST_MAX - got, ms_left(deadline));
    if (r <= 0) break;
    got += (size_t)r;
    request[got] = 0;
  } while (!strstr(request, "\r\n\r\n") && got < ASSET_REQUEST_MAX);
  deadline = deadline_clock::now() + std::chrono::milliseconds(ASSET_DEADLINE_MS);

  const asset *row = asset_for_request(request, site);
  if (row) {
    char header[512];
    int n = snprintf(header, sizeof header,
                     "HTTP/1.1 200 OK\r\nContent-Type: %s\r\nContent-Length: %zu\r\n"
                     "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n"
                     "Connection: close\r\n\r\n",
                     row->content_type, row->length);
    if (n > 0 && (size_t)n < sizeof header && send_until(fd, header, (size_t)n, deadline) == 0)
      send_until(fd, row->bytes, row->length, deadline);
  } else {
    send_until(fd, asset_not_found, sizeof asset_not_found - 1, deadline);
  }
  loopback_discard_pending(fd);
  loopback_close(fd);
}

// Connections being served, each on its own thread. Every one ends within the deadline,
// so when all places are taken the accept loop waits at most that long for one.
std::mutex serving_lock;
std::condition_variable serving_freed;
int serving = 0;

void serve_on_thread(loopback_socket fd, const asset_site *site, deadline_clock::time_point deadline) {
  serve_until(fd, *site, deadline);
  std::lock_guard<std::mutex> hold(serving_lock);
  serving--;
  serving_freed.notify_one();
}

}  // namespace

void asset_serve(loopback_socket fd, const asset_site &site) {
  serve_until(fd, site, deadline_clock::now() + std::chrono::milliseconds(ASSET_DEADLINE_MS));
}

void asset_accept_loop(const asset_site *site) {
  for (;;) {
    {
      std::unique_lock<std::mutex> hold(serving_lock);
      serving_freed.wait(hold, [] { return serving < ASSET_CONNECTIONS_MAX; });
    }
    loopback_socket fd = loopback_accept(site->listen_fd, ASSET_DEADLINE_MS / 1000);
    if (fd < 0) continue;
    auto deadline = deadline_clock::now() + std::chrono::milliseconds(ASSET_DEADLINE_MS);
    {
      std::lock_guard<std::mutex> hold(serving_lock);
      serving++;
    }
    try {
      std::thread(serve_on_thread, fd, site, deadline).detach();
    } catch (...) {
      // No thread to be had: this one is served here, as before.
      serve_on_thread(fd, site, deadline);
    }
  }
}

int asset_start_thread(const asset_site *site) {
  try {
    std::thread(asset_accept_loop, site).detach();
  } catch (...) {
    return -1;
  }
  return 0;
}
