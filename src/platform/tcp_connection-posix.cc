// Resolution with getaddrinfo, connections as non-blocking connects that
// poll waits for.
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/tcp_connection.h"
#include "platform/unique_fd.h"

namespace quorvex {
namespace {

struct AddressDeleter {
  void operator()(addrinfo* list) const { freeaddrinfo(list); }
};
using AddressList = std::unique_ptr<addrinfo, AddressDeleter>;

AddressList Resolve(const std::string& host, const std::string& port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* raw = nullptr;
  const int error = getaddrinfo(host.c_str(), port.c_str(), &hints, &raw);
  if (error != 0) {
    throw NetworkError(error == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(error));
  }
  return AddressList(raw);
}

std::string AddressText(const addrinfo& address) {
  char text[NI_MAXHOST] = "";
  getnameinfo(address.ai_addr, address.ai_addrlen, text, sizeof text, nullptr, 0, NI_NUMERICHOST);
  return text;
}

// 0 when the connection opened before deadline, else the error number.
int ConnectOne(const addrinfo& address, std::chrono::steady_clock::time_point deadline) {
  UniqueFd socket_fd(
      socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (socket_fd.get() < 0) return errno;
  if (connect(socket_fd.get(), address.ai_addr, address.ai_addrlen) == 0) return 0;
  if (errno != EINPROGRESS) return errno;
  for (;;) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return ETIMEDOUT;
    pollfd wait{socket_fd.get(), POLLOUT, 0};
    const int ready = poll(&wait, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return errno;
    if (ready == 0) return ETIMEDOUT;
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(socket_fd.get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
    return error;
  }
}

}  // namespace

std::vector<std::string> ResolveTcpHost(const std::string& host, const std::string& port) {
  std::vector<std::string> found;
  const AddressList list = Resolve(host, port);
  for (const addrinfo* a = list.get(); a != nullptr; a = a->ai_next)
    found.push_back(AddressText(*a));
  return found;
}

std::string ConnectTcp(const std::string& host, const std::string& port,
                       std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  const AddressList list = Resolve(host, port);
  std::string failure = "no address";
  for (const addrinfo* a = list.get(); a != nullptr; a = a->ai_next) {
    const int error = ConnectOne(*a, deadline);
    if (error == 0) return AddressText(*a);
    failure = AddressText(*a) + ": " + std::strerror(error);
  }
  throw NetworkError(failure);
}

int ClosedLoopbackPort() {
  UniqueFd socket_fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  auto* any = reinterpret_cast<sockaddr*>(&address);
  if (socket_fd.get() < 0 || bind(socket_fd.get(), any, length) != 0 ||
      getsockname(socket_fd.get(), any, &length) != 0) {
    return 0;
  }
  return ntohs(address.sin_port);
}

}  // namespace quorvex
