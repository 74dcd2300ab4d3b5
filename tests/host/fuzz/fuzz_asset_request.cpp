// libFuzzer target: the asset server's handling of one connection. The input is what a
// client sends before ending its side; the server reads it over a real socket pair,
// answers and closes. The answer must be the 404 or a whole 200 answer for a table row.
#include <assert.h>
#include <stdint.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "asset_server.h"

namespace {

const unsigned char page[] = "<!doctype html>";
const unsigned char script[] = "var x = 1;";
const asset rows[] = {
    {"index.html", "text/html; charset=utf-8", page, sizeof page - 1},
    {"app.js", "text/javascript; charset=utf-8", script, sizeof script - 1},
};

asset_site make_site() {
  asset_site s{};
  s.listen_fd = -1;
  memcpy(s.token, "00112233445566778899aabbccddeeff", 33);
  s.rows = rows;
  s.count = 2;
  return s;
}

const asset_site site = make_site();

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > 20000) return 0;
  std::string request((const char *)data, size);
  const asset *row = asset_for_request(request.c_str(), site);

  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return 0;
  size_t sent = 0;
  while (sent < size) {
    ssize_t n = send(fds[0], data + sent, size - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += (size_t)n;
  }
  shutdown(fds[0], SHUT_WR);
  asset_serve(fds[1], site);  // closes fds[1]

  std::string answer;
  char buf[4096];
  ssize_t n;
  while ((n = recv(fds[0], buf, sizeof buf, 0)) > 0) answer.append(buf, (size_t)n);
  close(fds[0]);

  if (answer == asset_not_found) return 0;
  assert(answer.compare(0, 17, "HTTP/1.1 200 OK\r\n") == 0);
  size_t body = answer.find("\r\n\r\n");
  assert(body != std::string::npos);
  std::string bytes = answer.substr(body + 4);
  bool known = false;
  for (const asset &r : rows)
    if (bytes == std::string((const char *)r.bytes, r.length)) known = true;
  assert(known);
  // What the server read is a prefix of the input, so a row found in the whole input
  // (up to its first NUL, within 8191 bytes) is the row it answered with.
  if (row && size <= ASSET_REQUEST_MAX)
    assert(bytes == std::string((const char *)row->bytes, row->length));
  return 0;
}
