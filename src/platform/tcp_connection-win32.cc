// Resolution and connections through Winsock: getaddrinfo, and
// non-blocking connects that select waits for.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <memory>

#include "platform/tcp_connection.h"
#include "platform/windows_text.h"

namespace quorvex {
namespace {

// Winsock is started once for the process and never stopped: the
// configuration test ends soon after.
void StartWinsock() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  if (!started) throw NetworkError("Winsock cannot be started");
}

std::string ErrorText(int error) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message(text != nullptr ? text : L"", length);
  LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                              message.back() == L' ' || message.back() == L'.')) {
    message.pop_back();
  }
  return (message.empty() ? "" : WideToUtf8(message) + " ") + "(error " + std::to_string(error) +
         ")";
}

struct AddressDeleter {
  void operator()(addrinfo* list) const { freeaddrinfo(list); }
};
using AddressList = std::unique_ptr<addrinfo, AddressDeleter>;

struct SocketCloser {
  SOCKET s;
  ~SocketCloser() {
    if (s != INVALID_SOCKET) closesocket(s);
  }
};

AddressList Resolve(const std::string& host, const std::string& port) {
  StartWinsock();
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* raw = nullptr;
  const int error = getaddrinfo(host.c_str(), port.c_str(), &hints, &raw);
  if (error != 0) throw NetworkError(ErrorText(error));
  return AddressList(raw);
}

std::string AddressText(const addrinfo& address) {
  char text[NI_MAXHOST] = "";
  getnameinfo(address.ai_addr, static_cast<socklen_t>(address.ai_addrlen), text, sizeof text,
              nullptr, 0, NI_NUMERICHOST);
  return text;
}

// 0 when the connection opened before deadline, else the Winsock error.
int ConnectOne(const addrinfo& address, std::chrono::steady_clock::time_point deadline) {
  SocketCloser socket_handle{socket(address.ai_family, address.ai_socktype, address.ai_protocol)};
  const SOCKET s = socket_handle.s;
  if (s == INVALID_SOCKET) return WSAGetLastError();
  u_long non_blocking = 1;
  if (ioctlsocket(s, FIONBIO, &non_blocking) != 0) return WSAGetLastError();
  if (connect(s, address.ai_addr, static_cast<int>(address.ai_addrlen)) == 0) return 0;
  if (WSAGetLastError() != WSAEWOULDBLOCK) return WSAGetLastError();
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  if (left.count() <= 0) return WSAETIMEDOUT;
  fd_set writable, failed;
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(s, &writable);
  FD_SET(s, &failed);
  timeval wait{static_cast<long>(left.count() / 1000),
               static_cast<long>(left.count() % 1000) * 1000};
  const int ready = select(0, nullptr, &writable, &failed, &wait);
  if (ready == SOCKET_ERROR) return WSAGetLastError();
  if (ready == 0) return WSAETIMEDOUT;
  int error = 0;
  int length = sizeof error;
  if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0) {
    return WSAGetLastError();
  }
  return FD_ISSET(s, &failed) && error == 0 ? WSAECONNREFUSED : error;
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
    failure = AddressText(*a) + ": " + ErrorText(error);
  }
  throw NetworkError(failure);
}

int ClosedLoopbackPort() {
  try {
    StartWinsock();
  } catch (const NetworkError&) {
    return 0;
  }
  SocketCloser socket_handle{socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)};
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  auto* any = reinterpret_cast<sockaddr*>(&address);
  if (socket_handle.s == INVALID_SOCKET || bind(socket_handle.s, any, length) != 0 ||
      getsockname(socket_handle.s, any, &length) != 0) {
    return 0;
  }
  return ntohs(address.sin_port);
}

}  // namespace quorvex
