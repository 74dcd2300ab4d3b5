#pragma once
// A small HTTP/1.1 server on 127.0.0.1 for the download tests, on a port the system
// picks. Each path answers as its route says; unknown paths answer 404. Every request
// is served on a thread of its own, so a stalled answer delays no other.
#include <stdint.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/platform/loopback.h"

struct http_route {
  int status = 200;
  std::string body;
  std::string extra_headers;     // each line ending in "\r\n"
  long long announced = -2;      // Content-Length sent: -2 the body's size, -1 none
  size_t cut_after = (size_t)-1; // close after this many body bytes
  int silence_ms = 0;            // after cut_after bytes, stay silent this long before closing
};

struct http_stand_in {
  uint16_t port = 0;
  http_stand_in();
  ~http_stand_in();
  void route(const std::string &path, const http_route &r);
  std::string address(const std::string &path) const;  // http://127.0.0.1:PORT + path
  std::vector<std::string> requested();                // paths in the order asked

 private:
  loopback_socket listener = -1;
  std::atomic<bool> stopping{false};
  std::mutex lock;
  std::map<std::string, http_route> routes;
  std::vector<std::string> paths;
  std::vector<std::thread> workers;
  std::thread acceptor;
  void serve(loopback_socket s);
};
