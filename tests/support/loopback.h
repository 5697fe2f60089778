// Loopback ports for tests that need a peer that answers, refuses or never
// answers.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cstdint>
#include <thread>

namespace quorvex::testing {

#ifdef _WIN32
// Winsock, set up once, under the names the tests use.
using Descriptor = SOCKET;
constexpr int SOCK_CLOEXEC = 0;
inline int close(SOCKET s) { return closesocket(s); }
inline SOCKET accept4(SOCKET s, sockaddr* address, int* length, int) {
  return ::accept(s, address, length);
}
inline const bool winsock_started = [] {
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}();
#else
using Descriptor = int;
#endif

// Binds a loopback TCP socket to a free port; returns the socket.
inline Descriptor BindLoopback(int& port) {
  const Descriptor fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
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
  close(BindLoopback(port));
  return port;
}

// A loopback port whose connections the kernel completes but nobody ever
// reads or answers.
class SilentListener {
 public:
  SilentListener() : fd_(BindLoopback(port_)) { ::listen(fd_, 64); }
  ~SilentListener() { close(fd_); }
  SilentListener(const SilentListener&) = delete;
  SilentListener& operator=(const SilentListener&) = delete;
  int port() const { return port_; }

 private:
  int port_ = 0;
  Descriptor fd_;
};

// Accepts connections and closes each at once, until destroyed. Listens on
// an IPv4 loopback address and port, an ephemeral port when port is 0; ok()
// is false when that address or port cannot be had.
class LoopbackListener {
 public:
  explicit LoopbackListener(const char* address_text = "127.0.0.1", int port = 0) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    socklen_t length = sizeof address;
    auto* any = reinterpret_cast<sockaddr*>(&address);
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&yes), sizeof yes);
    if (::inet_pton(AF_INET, address_text, &address.sin_addr) != 1 ||
        ::bind(fd_, any, length) != 0 || ::listen(fd_, 512) != 0 ||
        ::getsockname(fd_, any, &length) != 0) {
      return;
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] {
      for (Descriptor client;
           (client = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC)) != Descriptor(-1) ||
           !stopping_;) {
        if (client != Descriptor(-1)) close(client);
      }
    });
  }
  ~LoopbackListener() {
    stopping_ = true;
#ifdef _WIN32
    // Winsock wakes a blocked accept when its socket is closed; shutdown
    // does not reach a listening socket there.
    if (fd_ != Descriptor(-1)) close(fd_);
    if (thread_.joinable()) thread_.join();
#else
    if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) close(fd_);
#endif
  }
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;

  bool ok() const { return port_ != 0; }
  int port() const { return port_; }

 private:
  Descriptor fd_ = Descriptor(-1);
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace quorvex::testing
