#include "asset_server.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

const char asset_not_found[] = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
static_assert(sizeof(asset_not_found) - 1 == 64, "the 404 answer is 64 bytes");

int asset_listen(uint16_t *port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in addr;
  memset(&addr, 0, sizeof addr);
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof addr;
  if (bind(fd, (sockaddr *)&addr, sizeof addr) != 0 || listen(fd, 16) != 0 ||
      getsockname(fd, (sockaddr *)&addr, &len) != 0) {
    close(fd);
    return -1;
  }
  *port = ntohs(addr.sin_port);
  return fd;
}

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

int asset_send_all(int fd, const void *bytes, size_t length) {
  const char *p = (const char *)bytes;
  while (length > 0) {
    size_t piece = length < 65536 ? length : 65536;
    // MSG_NOSIGNAL: a browser that closes early must not take the process down.
    ssize_t sent = send(fd, p, piece, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return -1;
    p += sent;
    length -= (size_t)sent;
  }
  return 0;
}

// Throws away what the peer sent beyond the request, so that closing the socket does
// not turn into a reset that could destroy the answer before the peer has read it.
static void discard_pending_input(int fd) {
  char sink[4096];
  for (int i = 0; i < 64; i++) {
    ssize_t r = recv(fd, sink, sizeof sink, MSG_DONTWAIT);
    if (r <= 0) break;
  }
}

void asset_serve(int fd, const asset_site &site) {
  char request[ASSET_REQUEST_MAX + 1];
  size_t got = 0;
  request[0] = 0;
  do {
    ssize_t r = recv(fd, request + got, ASSET_REQUEST_MAX - got, 0);
    if (r < 0 && errno == EINTR) continue;
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
  discard_pending_input(fd);
  close(fd);
}

void asset_accept_loop(const asset_site *site) {
  for (;;) {
    int fd = accept4(site->listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      // Out of descriptors or memory: a short pause keeps a retry loop from eating a
      // core until the condition passes. Anything else is retried at once.
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) usleep(10000);
      continue;
    }
    timeval tv;
    tv.tv_sec = 5;
    tv.tv_usec = 0;
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    asset_serve(fd, *site);
  }
}

static void *accept_thread(void *arg) { asset_accept_loop((const asset_site *)arg); }

int asset_start_thread(const asset_site *site) {
  pthread_t thread;
  if (pthread_create(&thread, nullptr, accept_thread, (void *)site) != 0) return -1;
  pthread_detach(thread);
  return 0;
}
