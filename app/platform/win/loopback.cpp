#include "app/platform/loopback.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <mutex>

// Winsock wants one WSAStartup per process before the first socket; it stays up until
// the process ends.
static bool winsock_ready(void) {
  static bool ready = false;
  static std::once_flag once;
  std::call_once(once, [] {
    WSADATA data;
    ready = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  });
  return ready;
}

loopback_socket loopback_listen(uint16_t *port) {
  if (!winsock_ready()) return -1;
  // WSA_FLAG_NO_HANDLE_INHERIT: a program this one starts must not hold the port open.
  SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) return -1;
  // Nobody else may bind the same port while this socket holds it.
  BOOL on = TRUE;
  setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, (const char *)&on, sizeof on);
  sockaddr_in addr;
  memset(&addr, 0, sizeof addr);
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  int len = sizeof addr;
  if (bind(s, (sockaddr *)&addr, sizeof addr) != 0 || listen(s, 16) != 0 ||
      getsockname(s, (sockaddr *)&addr, &len) != 0) {
    closesocket(s);
    return -1;
  }
  *port = ntohs(addr.sin_port);
  return (loopback_socket)s;
}

loopback_socket loopback_accept(loopback_socket listener, int receive_timeout_seconds) {
  SOCKET s = accept((SOCKET)listener, nullptr, nullptr);
  if (s == INVALID_SOCKET) {
    // Out of sockets or buffers: a short pause before the caller retries.
    int error = WSAGetLastError();
    if (error == WSAEMFILE || error == WSAENOBUFS) Sleep(10);
    return -1;
  }
  DWORD ms = (DWORD)receive_timeout_seconds * 1000;  // milliseconds here, not a timeval
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, (const char *)&ms, sizeof ms);
  return (loopback_socket)s;
}

/*
 * The time-out set at accept is also waited for here with select: Windows applies
 * SO_RCVTIMEO to a blocking recv, Wine does not, and a silent peer must never hold a
 * thread for good. False when the time-out passed with nothing to read.
 */
static bool wait_readable(SOCKET s) {
  DWORD ms = 0;
  int length = sizeof ms;
  if (getsockopt(s, SOL_SOCKET, SO_RCVTIMEO, (char *)&ms, &length) != 0 || ms == 0) return true;
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval tv;
  tv.tv_sec = (long)(ms / 1000);
  tv.tv_usec = (long)(ms % 1000) * 1000;
  return select(0, &set, nullptr, nullptr, &tv) != 0;  // an error is left to recv
}

long loopback_receive(loopback_socket s, void *buffer, size_t room) {
  int want = room > 0x7fffffff ? 0x7fffffff : (int)room;
  for (;;) {
    if (!wait_readable((SOCKET)s)) return 0;
    int r = recv((SOCKET)s, (char *)buffer, want, 0);
    if (r != SOCKET_ERROR) return r;
    int error = WSAGetLastError();
    if (error == WSAEINTR) continue;
    if (error == WSAETIMEDOUT || error == WSAEWOULDBLOCK) return 0;  // the time-out
    return -1;
  }
}

// Waits up to timeout_ms until the socket can be read (or written); an error counts as
// ready, so the call that follows reports it.
static bool wait_for(SOCKET s, bool for_writing, int timeout_ms) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval tv;
  tv.tv_sec = timeout_ms < 0 ? 0 : timeout_ms / 1000;
  tv.tv_usec = timeout_ms < 0 ? 0 : (timeout_ms % 1000) * 1000;
  int ready = for_writing ? select(0, nullptr, &set, nullptr, &tv) : select(0, &set, nullptr, nullptr, &tv);
  return ready != 0;
}

// Winsock has no per-call "don't wait" flag: the socket is switched to non-blocking for
// the one call. Each connection is used by one thread only, so nobody sees the switch.
static void set_blocking(SOCKET s, bool blocking) {
  u_long non_blocking = blocking ? 0 : 1;
  ioctlsocket(s, FIONBIO, &non_blocking);
}

long loopback_receive_within(loopback_socket s, void *buffer, size_t room, int timeout_ms) {
  SOCKET socket = (SOCKET)s;
  if (!wait_for(socket, false, timeout_ms)) return 0;
  int want = room > 0x7fffffff ? 0x7fffffff : (int)room;
  set_blocking(socket, false);
  int r;
  int error = 0;
  do {
    r = recv(socket, (char *)buffer, want, 0);
    error = r == SOCKET_ERROR ? WSAGetLastError() : 0;
  } while (error == WSAEINTR);
  set_blocking(socket, true);
  if (r != SOCKET_ERROR) return r;
  return error == WSAEWOULDBLOCK || error == WSAETIMEDOUT ? 0 : -1;
}

long loopback_send_within(loopback_socket s, const void *bytes, size_t length, int timeout_ms) {
  SOCKET socket = (SOCKET)s;
  if (!wait_for(socket, true, timeout_ms)) return 0;
  int want = length > 0x7fffffff ? 0x7fffffff : (int)length;
  set_blocking(socket, false);
  int sent;
  int error = 0;
  do {
    sent = send(socket, (const char *)bytes, want, 0);
    error = sent == SOCKET_ERROR ? WSAGetLastError() : 0;
  } while (error == WSAEINTR);
  set_blocking(socket, true);
  if (sent != SOCKET_ERROR) return sent <= 0 && length > 0 ? -1 : sent;
  return error == WSAEWOULDBLOCK ? 0 : -1;
}

int loopback_send_all(loopback_socket s, const void *bytes, size_t length) {
  const char *p = (const char *)bytes;
  while (length > 0) {
    int piece = length < 65536 ? (int)length : 65536;
    int sent = send((SOCKET)s, p, piece, 0);
    if (sent == SOCKET_ERROR && WSAGetLastError() == WSAEINTR) continue;
    if (sent <= 0) return -1;
    p += sent;
    length -= (size_t)sent;
  }
  return 0;
}

void loopback_discard_pending(loopback_socket s) {
  // Only what has already arrived: FIONREAD says how much can be read without waiting.
  char sink[4096];
  for (int i = 0; i < 64; i++) {
    u_long pending = 0;
    if (ioctlsocket((SOCKET)s, FIONREAD, &pending) != 0 || pending == 0) break;
    int want = pending < sizeof sink ? (int)pending : (int)sizeof sink;
    if (recv((SOCKET)s, sink, want, 0) <= 0) break;
  }
}

void loopback_close(loopback_socket s) { closesocket((SOCKET)s); }
