#pragma once
// Loopback TCP sockets for the asset server: listening on 127.0.0.1 only, accepting, and
// plain reads and writes. A socket is a loopback_socket; -1 is none. Any thread.
#include <stddef.h>
#include <stdint.h>

typedef intptr_t loopback_socket;

// A listening socket bound to 127.0.0.1 on a port the system picks, backlog 16. Answers
// the socket and writes its port, or -1 when a step failed.
loopback_socket loopback_listen(uint16_t *port);

// The next connection, whose reads give up after `receive_timeout_seconds` of silence;
// -1 after a failure. When the failure was a lack of resources a short pause has passed,
// so a retry loop does not eat a core until it passes.
loopback_socket loopback_accept(loopback_socket listener, int receive_timeout_seconds);

// Reads up to `room` bytes: the count, 0 when the peer closed or the time-out passed, -1
// on an error. Interrupted reads are retried.
long loopback_receive(loopback_socket s, void *buffer, size_t room);

// Waits at most `timeout_ms` for something to read, then reads up to `room` bytes without
// blocking: the count, 0 when the peer closed or the time passed, -1 on an error.
long loopback_receive_within(loopback_socket s, void *buffer, size_t room, int timeout_ms);

// Waits at most `timeout_ms` until the socket takes bytes, then sends up to `length` of
// them without blocking: the count sent, 0 when the time passed, -1 when the peer went away.
long loopback_send_within(loopback_socket s, const void *bytes, size_t length, int timeout_ms);

// Sends everything in pieces of at most 65536 bytes: 0, or -1 when the peer went away (a
// peer that goes away ends the send, never the process).
int loopback_send_all(loopback_socket s, const void *bytes, size_t length);

// Throws away, without waiting, what the peer sent beyond what was read, so that closing
// does not turn into a reset that could destroy an answer before the peer read it.
void loopback_discard_pending(loopback_socket s);

void loopback_close(loopback_socket s);
