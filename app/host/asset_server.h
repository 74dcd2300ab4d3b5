#pragma once
// The loopback HTTP server that hands the page files to the browser. It answers only
// GET requests under "/<path token>/", each connection on a thread of its own and closed
// after its answer. Every request has one deadline, 5 seconds from its accept, and its
// answer as long again to go out, so another program on this machine can neither guess the page's
// address nor, by sending slowly or not at all, hold up anyone else's page load.
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

enum {
  ASSET_REQUEST_MAX = 8191,
  ASSET_DEADLINE_MS = 5000,     // from accept for the request; as long again for the answer
  ASSET_CONNECTIONS_MAX = 64,   // served at once; more wait to be accepted
};

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

// Reads one request (up to a blank line, 8191 bytes, the peer's end or the deadline, 5 s
// from now), answers it within 5 s more and closes the connection.
void asset_serve(loopback_socket fd, const asset_site &site);

// The accept thread's body, forever: accepts connections and serves each on a thread of
// its own with a deadline 5 s from its accept; at most 64 at once.
[[noreturn]] void asset_accept_loop(const asset_site *site);

// Starts the accept thread (detached; it lives as long as the process). 0 or -1.
int asset_start_thread(const asset_site *site);
