#include "tests/host/test_socket.h"

#include <winsock2.h>
#include <windows.h>

// The server under test has started Winsock (its listener came first).
test_socket test_connect(uint16_t port) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) return -1;
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(s, (sockaddr *)&a, sizeof a) != 0) {
    closesocket(s);
    return -1;
  }
  return (test_socket)s;
}

long test_send(test_socket s, const void *bytes, size_t length) {
  int n = send((SOCKET)s, (const char *)bytes, (int)length, 0);
  return n == SOCKET_ERROR ? -1 : n;
}

void test_shutdown_write(test_socket s) { shutdown((SOCKET)s, SD_SEND); }

bool test_readable(test_socket s, int timeout_ms) {
  WSAPOLLFD p = {(SOCKET)s, POLLRDNORM, 0};
  return WSAPoll(&p, 1, timeout_ms) > 0;
}

long test_receive(test_socket s, void *buffer, size_t room) {
  int n = recv((SOCKET)s, (char *)buffer, (int)room, 0);
  return n == SOCKET_ERROR ? -1 : n;
}

void test_close(test_socket s) { closesocket((SOCKET)s); }

bool test_bound_address(intptr_t s, uint32_t *address, uint16_t *port) {
  sockaddr_in a = {};
  int len = sizeof a;
  if (getsockname((SOCKET)s, (sockaddr *)&a, &len) != 0) return false;
  *address = ntohl(a.sin_addr.s_addr);
  *port = ntohs(a.sin_port);
  return true;
}

void test_pause_ms(int ms) { Sleep((DWORD)ms); }
