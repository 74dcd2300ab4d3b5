#pragma once
// The client side of loopback connections for the asset server's tests, on each
// system's own sockets: POSIX (test_socket_posix.cpp) or Winsock (tests/win).
#include <stddef.h>
#include <stdint.h>

typedef intptr_t test_socket;

// A connection to 127.0.0.1:port, or -1.
test_socket test_connect(uint16_t port);
// Sends what it can: the count, or -1 when the peer is gone (never a signal).
long test_send(test_socket s, const void *bytes, size_t length);
// Ends this side's sending; the server then sees the end of the request.
void test_shutdown_write(test_socket s);
// True when something (or the end) can be read within timeout_ms.
bool test_readable(test_socket s, int timeout_ms);
long test_receive(test_socket s, void *buffer, size_t room);
void test_close(test_socket s);
// The IPv4 address (host byte order) and port a socket is bound to; false on failure.
bool test_bound_address(intptr_t s, uint32_t *address, uint16_t *port);
void test_pause_ms(int ms);
