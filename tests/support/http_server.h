// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// An HTTP server on 127.0.0.1 for the network clients' tests: it answers every request with
// what the test's handler builds, one connection at a time, and records the request lines.
// Nothing else is reachable: the clients are pointed at Url().
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct HttpTestReply {
  int status = 200;
  std::string body;
  // Sends the headers (with the full length) but only this many bytes of the body, then
  // closes: a truncated reply.
  size_t cutAt = std::string::npos;
  // Sends nothing until the server is destroyed: a server that hangs past any time-out.
  bool hang = false;
  std::string location{};  // a Location header, for a redirect
};

class HttpTestServer {
 public:
  using Handler = std::function<HttpTestReply(const std::string& path)>;
  explicit HttpTestServer(Handler handler);
  ~HttpTestServer();
  HttpTestServer(const HttpTestServer&) = delete;
  HttpTestServer& operator=(const HttpTestServer&) = delete;

  std::string Url() const;                 // "http://127.0.0.1:PORT"
  std::vector<std::string> Paths() const;  // the paths requested, in order

 private:
  void Serve();

  Handler handler_;
  int listener_ = -1;
  int stopPipe_[2] = {-1, -1};
  int port_ = 0;
  mutable std::mutex mutex_;
  std::vector<std::string> paths_;
  std::thread thread_;
};
