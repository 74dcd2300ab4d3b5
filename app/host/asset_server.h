#pragma once
// The loopback HTTP server that hands the page files to the browser. It answers only
// GET requests under "/<path token>/", one connection at a time, each closed after its
// answer, so another program on this machine can neither guess the page's address nor
// hold the browser up for longer than the 5-second receive time-out.
#include <stddef.h>
#include <stdint.h>

#include "app/platform/loopback.h"
#include "assets.h"

// What the accept thread shares with start-up; written once before the thread starts.
struct asset_site {
  loopback_socket listen_fd;
  char token[33];  // 32 lower-case hex characters
  const asset *rows;
  int count;
};

enum { ASSET_REQUEST_MAX = 8191 };

// The fixed answer for everything that is not one of the page files.
extern const char asset_not_found[];  // 64 bytes

// A listening IPv4 socket bound to 127.0.0.1 on a port the system picks, backlog 16.
// Answers the socket and writes its port, or -1 when a step failed.
loopback_socket asset_listen(uint16_t *port);

// The row a request asks for, or null for the 404 answer. `request` is NUL-terminated.
const asset *asset_for_request(const char *request, const asset_site &site);

// Sends in pieces of at most 65536 bytes; stops quietly when the peer goes away.
// Answers 0 when everything went out, -1 otherwise.
int asset_send_all(loopback_socket s, const void *bytes, size_t length);

// Reads one request (up to a blank line, 8191 bytes, the peer's end or the time-out),
// answers it and closes the connection.
void asset_serve(loopback_socket fd, const asset_site &site);

// The accept thread's body: serves connections in order, forever.
[[noreturn]] void asset_accept_loop(const asset_site *site);

// Starts the accept thread (detached; it lives as long as the process). 0 or -1.
int asset_start_thread(const asset_site *site);
