// Loopback ports for tests that need a peer that refuses or never answers.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quorvex::testing {

// Binds a loopback TCP socket to a free port; returns the socket.
inline int BindLoopback(int& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), length);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  port = ntohs(address.sin_port);
  return fd;
}

// A loopback port nobody listens on: connections to it are refused.
inline int ClosedLoopbackPort() {
  int port = 0;
  ::close(BindLoopback(port));
  return port;
}

// A loopback port whose connections the kernel completes but nobody ever
// reads or answers.
class SilentListener {
 public:
  SilentListener() : fd_(BindLoopback(port_)) { ::listen(fd_, 64); }
  ~SilentListener() { ::close(fd_); }
  SilentListener(const SilentListener&) = delete;
  SilentListener& operator=(const SilentListener&) = delete;
  int port() const { return port_; }

 private:
  int port_ = 0;
  int fd_;
};

}  // namespace quorvex::testing
