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
#include <cstring>
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

// Listens on a loopback address, IPv4 or IPv6 ("::1"), and port (an
// ephemeral port when port is 0) until destroyed; ok() is false when they
// cannot be had. A fixed port is shared with other listeners that share it
// too (SO_REUSEPORT where the system has it), so that tests run at the same
// time by other builds on this machine do not shut each other out. With
// answer set it accepts connections and closes each at once; without, the
// kernel completes them but nobody ever reads or answers.
class LoopbackListener {
 public:
  explicit LoopbackListener(const char* address_text = "127.0.0.1", int port = 0,
                            bool answer = true) {
    sockaddr_storage address{};
    auto* any = reinterpret_cast<sockaddr*>(&address);
    const bool ipv6 = std::strchr(address_text, ':') != nullptr;
    socklen_t length = ipv6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    address.ss_family = ipv6 ? AF_INET6 : AF_INET;
    // sin6_port lies where sin_port does.
    auto& port_field = reinterpret_cast<sockaddr_in*>(&address)->sin_port;
    port_field = htons(static_cast<std::uint16_t>(port));
    fd_ = ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&yes), sizeof yes);
#ifdef SO_REUSEPORT
    if (port != 0) ::setsockopt(fd_, SOL_SOCKET, SO_REUSEPORT, &yes, sizeof yes);
#endif
    void* ip = ipv6 ? static_cast<void*>(&reinterpret_cast<sockaddr_in6*>(&address)->sin6_addr)
                    : static_cast<void*>(&reinterpret_cast<sockaddr_in*>(&address)->sin_addr);
    if (::inet_pton(address.ss_family, address_text, ip) != 1 || ::bind(fd_, any, length) != 0 ||
        ::listen(fd_, 512) != 0 || ::getsockname(fd_, any, &length) != 0) {
      return;
    }
    port_ = ntohs(port_field);
    if (!answer) return;
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

// A port nobody listens on at a loopback address: connections to it are
// refused.
inline int ClosedLoopbackPort(const char* address_text = "127.0.0.1") {
  return LoopbackListener(address_text, 0, false).port();
}

}  // namespace quorvex::testing
