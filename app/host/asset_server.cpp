#include "asset_server.h"

#include <stdio.h>
#include <string.h>

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

void asset_serve(loopback_socket fd, const asset_site &site) {
  char request[ASSET_REQUEST_MAX + 1];
  size_t got = 0;
  request[0] = 0;
  do {
    long r = loopback_receive(fd, request + got, ASSET_REQUEST_MAX - got);
    if (r <= 0) break;
    got += (size_t)r;
    request[got] = 0;
  } while (!strstr(request, "\r\n\r\n") && got < ASSET_REQUEST_MAX);

  const asset *row = asset_for_request(request, site);
  if (row) {
    char header[512];
    int n = snprintf(header, sizeof header,
                     "HTTP/1.1 200 OK\r\nContent-Type: %s\r\nContent-Length: %zu\r\n"
                     "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n"
                     "Connection: close\r\n\r\n",
                     row->content_type, row->length);
    if (n > 0 && (size_t)n < sizeof header && asset_send_all(fd, header, (size_t)n) == 0)
      asset_send_all(fd, row->bytes, row->length);
  } else {
    asset_send_all(fd, asset_not_found, sizeof asset_not_found - 1);
  }
  loopback_discard_pending(fd);
  loopback_close(fd);
}

void asset_accept_loop(const asset_site *site) {
  for (;;) {
    loopback_socket fd = loopback_accept(site->listen_fd, 5);
    if (fd >= 0) asset_serve(fd, *site);
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
