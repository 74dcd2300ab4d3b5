#include "test_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

test_socket test_connect(uint16_t port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, (sockaddr *)&a, sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

long test_send(test_socket s, const void *bytes, size_t length) {
  return (long)send((int)s, bytes, length, MSG_NOSIGNAL);
}

void test_shutdown_write(test_socket s) { shutdown((int)s, SHUT_WR); }

bool test_readable(test_socket s, int timeout_ms) {
  pollfd p{(int)s, POLLIN, 0};
  return poll(&p, 1, timeout_ms) > 0;
}

long test_receive(test_socket s, void *buffer, size_t room) { return (long)recv((int)s, buffer, room, 0); }

void test_close(test_socket s) { close((int)s); }

bool test_bound_address(intptr_t s, uint32_t *address, uint16_t *port) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  if (getsockname((int)s, (sockaddr *)&a, &len) != 0) return false;
  *address = ntohl(a.sin_addr.s_addr);
  *port = ntohs(a.sin_port);
  return true;
}

void test_pause_ms(int ms) { usleep((useconds_t)ms * 1000); }
