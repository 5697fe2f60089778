// Pieces the probe's tests share: where the helper programs are, a message
// box that records instead of showing, and TCP listeners on loopback.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/message_box.h"

namespace quorvex::testing {

// A helper program built for the probe's tests (tests/probe).
inline std::string HelperPath(const std::string& name) {
  return std::string(QUORVEX_BINARY_DIR) + "/tests/probe/" + name;
}

// A companion tool built into the build root (tcping.exe, psping.exe, ping).
inline std::string ToolPath(const std::string& name) {
  return std::string(QUORVEX_BINARY_DIR) + "/" + name;
}

struct ShownBox {
  std::string text;
  MessageBoxIcon icon;
};

class RecordingBoxes final : public MessageBoxPresenter {
 public:
  void Show(std::string_view text, MessageBoxIcon icon) override {
    shown.push_back({std::string(text), icon});
  }
  std::vector<ShownBox> shown;
};

// Accepts connections and closes each at once, until destroyed. Listens on
// address (IPv4 or IPv6 text) and port, an ephemeral port when port is 0.
class LoopbackListener {
 public:
  explicit LoopbackListener(const char* address_text = "127.0.0.1", int port = 0) {
    sockaddr_storage address{};
    socklen_t length = 0;
    auto* in4 = reinterpret_cast<sockaddr_in*>(&address);
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&address);
    if (inet_pton(AF_INET, address_text, &in4->sin_addr) == 1) {
      in4->sin_family = AF_INET;
      in4->sin_port = htons(static_cast<uint16_t>(port));
      length = sizeof(sockaddr_in);
    } else if (inet_pton(AF_INET6, address_text, &in6->sin6_addr) == 1) {
      in6->sin6_family = AF_INET6;
      in6->sin6_port = htons(static_cast<uint16_t>(port));
      length = sizeof(sockaddr_in6);
    } else {
      ok_ = false;
      return;
    }
    fd_ = socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    if (fd_ >= 0) setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(fd_, 512) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      ok_ = false;
      return;
    }
    port_ = ntohs(address.ss_family == AF_INET ? in4->sin_port : in6->sin6_port);
    thread_ = std::thread([this] {
      while (true) {
        const int client = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
          if (stopping_) return;
          continue;
        }
        close(client);
      }
    });
  }
  ~LoopbackListener() {
    stopping_ = true;
    if (fd_ >= 0) shutdown(fd_, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) close(fd_);
  }
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;

  bool ok() const { return ok_; }
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
  bool ok_ = true;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

// A loopback port nobody listens on: bound once to learn a free port, then
// released.
inline int ClosedLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  bind(fd, reinterpret_cast<sockaddr*>(&address), length);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

}  // namespace quorvex::testing
