#include "app/platform/loopback.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

loopback_socket loopback_listen(uint16_t *port) {
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

loopback_socket loopback_accept(loopback_socket listener, int receive_timeout_seconds) {
  int fd = accept4((int)listener, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) {
    // Out of descriptors or memory: a short pause before the caller retries. Anything
    // else is retried at once.
    if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) usleep(10000);
    return -1;
  }
  timeval tv;
  tv.tv_sec = receive_timeout_seconds;
  tv.tv_usec = 0;
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  return fd;
}

long loopback_receive(loopback_socket s, void *buffer, size_t room) {
  for (;;) {
    ssize_t r = recv((int)s, buffer, room, 0);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;  // the time-out
    return (long)r;
  }
}

// poll() for `events` for at most timeout_ms (retried when interrupted): 1 ready, 0 not.
static int wait_for(int fd, short events, int timeout_ms) {
  if (timeout_ms <= 0) return 0;
  pollfd p = {fd, events, 0};
  for (;;) {
    int r = poll(&p, 1, timeout_ms);
    if (r < 0 && errno == EINTR) continue;  // the wait restarts; the caller's deadline still bounds it
    return r > 0 ? 1 : 0;
  }
}

long loopback_receive_within(loopback_socket s, void *buffer, size_t room, int timeout_ms) {
  if (!wait_for((int)s, POLLIN, timeout_ms)) return 0;
  for (;;) {
    ssize_t r = recv((int)s, buffer, room, MSG_DONTWAIT);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
    return (long)r;
  }
}

long loopback_send_within(loopback_socket s, const void *bytes, size_t length, int timeout_ms) {
  if (!wait_for((int)s, POLLOUT, timeout_ms)) return 0;
  for (;;) {
    // MSG_NOSIGNAL: a browser that closes early must not take the process down.
    ssize_t sent = send((int)s, bytes, length, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
    return sent <= 0 ? -1 : (long)sent;
  }
}

int loopback_send_all(loopback_socket s, const void *bytes, size_t length) {
  const char *p = (const char *)bytes;
  while (length > 0) {
    size_t piece = length < 65536 ? length : 65536;
    // MSG_NOSIGNAL: a browser that closes early must not take the process down.
    ssize_t sent = send((int)s, p, piece, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return -1;
    p += sent;
    length -= (size_t)sent;
  }
  return 0;
}

void loopback_discard_pending(loopback_socket s) {
  char sink[4096];
  for (int i = 0; i < 64; i++) {
    ssize_t r = recv((int)s, sink, sizeof sink, MSG_DONTWAIT);
    if (r <= 0) break;
  }
}

void loopback_close(loopback_socket s) { close((int)s); }
