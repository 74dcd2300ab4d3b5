#include "tests/win/http_stand_in.h"

#include <winsock2.h>
#include <windows.h>

http_stand_in::http_stand_in() {
  listener = loopback_listen(&port);
  if (listener < 0) return;
  acceptor = std::thread([this] {
    for (;;) {
      loopback_socket s = loopback_accept(listener, 5);
      if (stopping) {
        if (s >= 0) loopback_close(s);
        return;
      }
      if (s < 0) continue;
      std::lock_guard<std::mutex> hold(lock);
      workers.emplace_back([this, s] { serve(s); });
    }
  });
}

http_stand_in::~http_stand_in() {
  if (listener < 0) return;
  stopping = true;
  // A connection of our own wakes the accept.
  SOCKET wake = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in to = {};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  connect(wake, (sockaddr *)&to, sizeof to);
  acceptor.join();
  closesocket(wake);
  for (std::thread &t : workers) t.join();
  loopback_close(listener);
}

void http_stand_in::route(const std::string &path, const http_route &r) {
  std::lock_guard<std::mutex> hold(lock);
  routes[path] = r;
}

std::string http_stand_in::address(const std::string &path) const {
  return "http://127.0.0.1:" + std::to_string(port) + path;
}

std::vector<std::string> http_stand_in::requested() {
  std::lock_guard<std::mutex> hold(lock);
  return paths;
}

void http_stand_in::serve(loopback_socket s) {
  std::string request;
  char piece[2048];
  while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
    long n = loopback_receive(s, piece, sizeof piece);
    if (n <= 0) break;
    request.append(piece, (size_t)n);
  }
  size_t start = request.find(' '), end = request.find(' ', start + 1);
  std::string path = start == std::string::npos || end == std::string::npos
                         ? std::string()
                         : request.substr(start + 1, end - start - 1);
  http_route r;
  {
    std::lock_guard<std::mutex> hold(lock);
    paths.push_back(path);
    auto found = routes.find(path);
    if (found != routes.end()) r = found->second;
    else r.status = 404, r.body = "not here";
  }
  long long announced = r.announced == -2 ? (long long)r.body.size() : r.announced;
  std::string head = "HTTP/1.1 " + std::to_string(r.status) + (r.status < 300 ? " OK" : " Other") + "\r\n";
  if (announced >= 0) head += "Content-Length: " + std::to_string(announced) + "\r\n";
  head += r.extra_headers + "Connection: close\r\n\r\n";
  loopback_send_all(s, head.data(), head.size());
  size_t sent = r.cut_after < r.body.size() ? r.cut_after : r.body.size();
  loopback_send_all(s, r.body.data(), sent);
  for (int waited = 0; waited < r.silence_ms && !stopping; waited += 50) Sleep(50);
  loopback_discard_pending(s);
  loopback_close(s);
}
