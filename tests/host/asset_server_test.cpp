// The asset server over real loopback sockets: one accept thread per test process,
// serving a small table with one file larger than the 65536-byte send piece.
#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "asset_server.h"
#include "test_socket.h"

namespace {

const char TOKEN[] = "0123456789abcdef0123456789abcdef";

std::string big_file() {
  std::string s;
  for (int i = 0; s.size() < 200000; i++) s += "line " + std::to_string(i) + "\n";
  return s;
}

const std::string &big() {
  static const std::string b = big_file();
  return b;
}

const unsigned char index_bytes[] = "<!doctype html><title>t</title>";
const unsigned char css_bytes[] = "body{}";

asset rows[3];
asset_site site;
uint16_t port;

class AssetServer : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    rows[0] = {"index.html", "text/html; charset=utf-8", index_bytes, sizeof index_bytes - 1};
    rows[1] = {"style.css", "text/css; charset=utf-8", css_bytes, sizeof css_bytes - 1};
    rows[2] = {"app.js", "text/javascript; charset=utf-8", (const unsigned char *)big().data(),
               big().size()};
    site.listen_fd = asset_listen(&port);
    ASSERT_GE(site.listen_fd, 0);
    memcpy(site.token, TOKEN, sizeof site.token);
    site.rows = rows;
    site.count = 3;
    ASSERT_EQ(asset_start_thread(&site), 0);
  }
};

test_socket connect_to_server() { return test_connect(port); }

// Everything the server sends until it closes (or 15 s pass).
std::string read_all(test_socket fd) {
  std::string out;
  char buf[65536];
  for (;;) {
    if (!test_readable(fd, 15000)) break;
    long r = test_receive(fd, buf, sizeof buf);
    if (r <= 0) break;
    out.append(buf, (size_t)r);
  }
  return out;
}

// With `half_close` the client ends its side after the request, as a request the server
// would otherwise wait 5 seconds on needs.
std::string fetch(const std::string &request, bool half_close = false) {
  test_socket fd = connect_to_server();
  if (fd < 0) return "<no connection>";
  test_send(fd, request.data(), request.size());
  if (half_close) test_shutdown_write(fd);
  std::string answer = read_all(fd);
  test_close(fd);
  return answer;
}

std::string get(const std::string &target) {
  return fetch("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
}

std::string ok_answer(const asset &row) {
  return "HTTP/1.1 200 OK\r\nContent-Type: " + std::string(row.content_type) +
         "\r\nContent-Length: " + std::to_string(row.length) +
         "\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\nConnection: close\r\n\r\n" +
         std::string((const char *)row.bytes, row.length);
}

const std::string not_found = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
const std::string T = std::string("/") + TOKEN;

TEST_F(AssetServer, ListensOnLoopbackOnly) {
  uint32_t address = 0;
  uint16_t bound = 0;
  ASSERT_TRUE(test_bound_address(site.listen_fd, &address, &bound));
  EXPECT_EQ(address, 0x7f000001u);
  EXPECT_NE(port, 0);
  EXPECT_EQ(bound, port);
  EXPECT_EQ(not_found.size(), 64u);
}

TEST_F(AssetServer, ServesTheDefaultDocumentAndNamedFiles) {
  EXPECT_EQ(get(T + "/"), ok_answer(rows[0]));
  EXPECT_EQ(get(T + "/index.html"), ok_answer(rows[0]));
  EXPECT_EQ(get(T + "/style.css"), ok_answer(rows[1]));
  EXPECT_EQ(get(T + "/?x=1"), ok_answer(rows[0]));
}

TEST_F(AssetServer, IgnoresQueriesAndFragments) {
  EXPECT_EQ(get(T + "/app.js?v=2"), ok_answer(rows[2]));
  EXPECT_EQ(get(T + "/app.js#x"), ok_answer(rows[2]));
}

TEST_F(AssetServer, LargeFilesArriveWholeAndTheConnectionCloses) {
  std::string answer = get(T + "/app.js");
  ASSERT_EQ(answer.size(), ok_answer(rows[2]).size());
  EXPECT_TRUE(answer == ok_answer(rows[2]));
  EXPECT_NE(answer.find("Content-Length: " + std::to_string(big().size()) + "\r\n"), std::string::npos);
}

TEST_F(AssetServer, AnswersEverythingElseWithThe404) {
  const char *targets[] = {"/0123456789abcdef0123456789abcdef", "/0123456789abcdef0123456789abcdef/App.js",
                           "/0123456789abcdef0123456789abcdef/sub/app.js",
                           "/0123456789abcdef0123456789abcdef/app%2Ejs",
                           "/0123456789abcdef0123456789abcdef/vault.js",
                           "/0123456789abcdef0123456789abcdeF/app.js",
                           "/ffffffffffffffffffffffffffffffff/app.js", "/app.js", "/", ""};
  for (const char *t : targets) EXPECT_EQ(get(t), not_found) << t;
  EXPECT_EQ(fetch("HEAD " + T + "/app.js HTTP/1.1\r\n\r\n"), not_found);
  EXPECT_EQ(fetch("get " + T + "/app.js HTTP/1.1\r\n\r\n"), not_found);
  EXPECT_EQ(fetch("POST " + T + "/app.js HTTP/1.1\r\n\r\n"), not_found);
  // The request is text up to its first NUL byte.
  const std::string nul(1, '\0');
  EXPECT_EQ(fetch("GET " + T + "/app.js" + nul + "x HTTP/1.1\r\n\r\n", true), ok_answer(rows[2]));
  EXPECT_EQ(fetch("GET " + T.substr(0, 10) + nul + T.substr(10) + "/app.js\r\n\r\n", true), not_found);
}

TEST_F(AssetServer, AnEmptyRequestGetsThe404) {
  test_socket fd = connect_to_server();
  ASSERT_GE(fd, 0);
  test_shutdown_write(fd);
  EXPECT_EQ(read_all(fd), not_found);
  test_close(fd);
}

TEST_F(AssetServer, LongRequestsAreCutAndAnsweredFromTheFirstLine) {
  std::string request = "GET " + T + "/style.css HTTP/1.1\r\nX-Filler: " + std::string(20000, 'a') + "\r\n\r\n";
  EXPECT_EQ(fetch(request), ok_answer(rows[1]));
  // Exactly at the limit without a blank line: still answered, not waited on.
  std::string exact = "GET " + T + "/index.html HTTP/1.1\r\nX: ";
  exact += std::string(ASSET_REQUEST_MAX - exact.size(), 'b');
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(fetch(exact), ok_answer(rows[0]));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
}

TEST_F(AssetServer, RequestsSentInPiecesAreJoined) {
  test_socket fd = connect_to_server();
  ASSERT_GE(fd, 0);
  std::string request = "GET " + T + "/style.css HTTP/1.1\r\nHost: x\r\n\r\n";
  for (char c : request) {
    test_send(fd, &c, 1);
    test_pause_ms(1);
  }
  EXPECT_EQ(read_all(fd), ok_answer(rows[1]));
  test_close(fd);
}

using ms = std::chrono::milliseconds;

ms since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<ms>(std::chrono::steady_clock::now() - start);
}

// A request without its blank line is answered from what arrived once its 5 seconds from
// accept are over; meanwhile other connections are served at once.
TEST_F(AssetServer, AnUnfinishedRequestIsAnsweredAtItsDeadlineWithoutHoldingOthers) {
  test_socket held = connect_to_server();
  ASSERT_GE(held, 0);
  auto opened = std::chrono::steady_clock::now();
  std::string bare = "GET " + T + "/style.css";
  test_send(held, bare.data(), bare.size());
  test_pause_ms(200);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(get(T + "/index.html"), ok_answer(rows[0]));
  EXPECT_LT(since(start), ms(2000));
  EXPECT_EQ(read_all(held), ok_answer(rows[1]));
  EXPECT_GE(since(opened), ms(4500));
  test_close(held);
}

// One byte every second keeps no connection beyond its 5 seconds, however long it goes
// on, and while it trickles other page loads go through at once.
TEST_F(AssetServer, ATrickleOfBytesDoesNotStretchTheDeadlineOrDelayOthers) {
  test_socket slow = connect_to_server();
  ASSERT_GE(slow, 0);
  auto opened = std::chrono::steady_clock::now();
  std::string request = "GET " + T + "/style.css HTTP/1.1\r\nX-Slow: ";
  bool closed = false;
  ms quickest_other(60000), slowest_other(0);
  for (size_t i = 0; i < request.size() && since(opened) < ms(9000); i++) {
    if (test_send(slow, &request[i], 1) != 1) {
      closed = true;
      break;
    }
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(get(T + "/app.js"), ok_answer(rows[2]));
    slowest_other = std::max(slowest_other, since(start));
    quickest_other = std::min(quickest_other, since(start));
    if (test_readable(slow, 1000)) break;  // the server answered and closed
  }
  EXPECT_LT(slowest_other, ms(2000));
  std::string answer = read_all(slow);
  auto held = since(opened);
  // Answered from the first line that arrived (or the peer was already gone).
  EXPECT_TRUE(closed || answer == ok_answer(rows[1]) || answer == not_found) << answer.substr(0, 80);
  EXPECT_GE(held, ms(4500));
  EXPECT_LT(held, ms(7500));
  test_close(slow);
}

// Many connections that never send a byte do not delay a page load: each is a thread of
// its own that gives up at its deadline.
TEST_F(AssetServer, IdleConnectionsDoNotDelayAPageLoad) {
  test_socket idle[20];
  for (test_socket &fd : idle) {
    fd = connect_to_server();
    ASSERT_GE(fd, 0);
  }
  test_pause_ms(100);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(get(T + "/"), ok_answer(rows[0]));
  EXPECT_EQ(get(T + "/app.js"), ok_answer(rows[2]));
  EXPECT_LT(since(start), ms(2000));
  // At their deadline the idle ones get the 404 (nothing asked) and are closed.
  for (test_socket fd : idle) {
    EXPECT_EQ(read_all(fd), not_found);
    test_close(fd);
  }
  EXPECT_LT(since(start), ms(7500));
}

TEST_F(AssetServer, APeerThatLeavesEarlyDoesNotStopTheServer) {
  for (int i = 0; i < 5; i++) {
    test_socket fd = connect_to_server();
    ASSERT_GE(fd, 0);
    std::string request = "GET " + T + "/app.js HTTP/1.1\r\n\r\n";
    test_send(fd, request.data(), request.size());
    char buf[100];
    test_receive(fd, buf, sizeof buf);
    test_close(fd);  // leaves most of the 200 kB answer unread
  }
  EXPECT_EQ(get(T + "/style.css"), ok_answer(rows[1]));
}

TEST(AssetLookup, MatchesWholeNamesOnly) {
  asset r[1] = {{"app.js", "t", (const unsigned char *)"x", 1}};
  asset_site s{};
  memcpy(s.token, TOKEN, sizeof s.token);
  s.rows = r;
  s.count = 1;
  std::string p = "GET " + T + "/";
  EXPECT_EQ(asset_for_request((p + "app.js").c_str(), s), &r[0]);
  EXPECT_EQ(asset_for_request((p + "app.j").c_str(), s), nullptr);
  EXPECT_EQ(asset_for_request((p + "app.jss").c_str(), s), nullptr);
  EXPECT_EQ(asset_for_request((p + "app.js\r\n").c_str(), s), nullptr);
  EXPECT_EQ(asset_for_request("", s), nullptr);
  EXPECT_EQ(asset_for_request(("GET  " + T + "/app.js").c_str(), s), nullptr);
}

}  // namespace
