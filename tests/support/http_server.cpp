// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "support/http_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace {

// Waits for `fd` to be readable, or for the stop pipe; false on stop.
bool WaitReadable(int fd, int stop) {
  pollfd fds[2] = {{fd, POLLIN, 0}, {stop, POLLIN, 0}};
  while (poll(fds, 2, -1) < 0) {
  }
  return !(fds[1].revents & POLLIN);
}

void SendAll(int fd, const std::string& data) {
  for (size_t sent = 0; sent < data.size();) {
    const ssize_t n = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return;
    sent += static_cast<size_t>(n);
  }
}

}  // namespace

HttpTestServer::HttpTestServer(Handler handler) : handler_(std::move(handler)) {
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) ||
      listen(listener_, 8) ||
      getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) ||
      pipe2(stopPipe_, O_CLOEXEC)) {
    throw std::runtime_error("the test server cannot listen on 127.0.0.1");
  }
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { Serve(); });
}

HttpTestServer::~HttpTestServer() {
  (void)!write(stopPipe_[1], "x", 1);
  thread_.join();
  close(listener_);
  close(stopPipe_[0]);
  close(stopPipe_[1]);
}

std::string HttpTestServer::Url() const {
  return "http://127.0.0.1:" + std::to_string(port_);
}

std::vector<std::string> HttpTestServer::Paths() const {
  std::lock_guard lock(mutex_);
  return paths_;
}

void HttpTestServer::Serve() {
  while (WaitReadable(listener_, stopPipe_[0])) {
    const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos && WaitReadable(client, stopPipe_[0])) {
      const ssize_t n = recv(client, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      request.append(buffer, static_cast<size_t>(n));
    }
    const size_t pathStart = request.find(' ') + 1;
    const std::string path =
        pathStart > 0 ? request.substr(pathStart, request.find(' ', pathStart) - pathStart) : "";
    {
      std::lock_guard lock(mutex_);
      paths_.push_back(path);
    }
    const HttpTestReply reply = handler_(path);
    if (reply.hang) {
      WaitReadable(stopPipe_[0], stopPipe_[0]);  // until the destructor
      close(client);
      return;
    }
    SendAll(client, "HTTP/1.1 " + std::to_string(reply.status) + " Test\r\n" +
                        (reply.location.empty() ? "" : "Location: " + reply.location + "\r\n") +
                        "Content-Length: " + std::to_string(reply.body.size()) +
                        "\r\nConnection: close\r\n\r\n" + reply.body.substr(0, reply.cutAt));
    close(client);
  }
}
