// The probes' sockets, clock and sleep on Windows (Winsock 2).
#include <winsock2.h>
#include <ws2tcpip.h>
// After winsock2.h, which must come first.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <memory>

#include "probe_net.h"

namespace quorvex::probes {
namespace {

class Socket {
 public:
  explicit Socket(SOCKET s) : s_(s) {}
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  ~Socket() {
    if (s_ != INVALID_SOCKET) closesocket(s_);
  }
  SOCKET get() const { return s_; }

 private:
  SOCKET s_;
};

std::int64_t MonotonicNanos() {
  static const LONGLONG frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f.QuadPart;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<std::int64_t>(now.QuadPart / frequency * 1000000000 +
                                   now.QuadPart % frequency * 1000000000 / frequency);
}

}  // namespace

// Winsock is set up once per process, before the first name or socket.
void StartNetworking() {
  struct Init {
    Init() {
      WSADATA data;
      WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~Init() { WSACleanup(); }
  };
  static const Init init;
}

ConnectResult TimedConnect(const Endpoint& endpoint, double timeout_s) {
  StartNetworking();
  ConnectResult result;
  Socket s(WSASocketW(endpoint.address.ss_family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                      WSA_FLAG_NO_HANDLE_INHERIT));
  if (s.get() == INVALID_SOCKET) return result;
  u_long non_blocking = 1;
  ioctlsocket(s.get(), FIONBIO, &non_blocking);

  const std::int64_t start = MonotonicNanos();
  int error = 0;
  if (connect(s.get(), reinterpret_cast<const sockaddr*>(&endpoint.address), endpoint.length) !=
      0) {
    error = WSAGetLastError();
  }
  if (error == WSAEWOULDBLOCK) {
    const std::int64_t deadline = start + static_cast<std::int64_t>(timeout_s * 1e9);
    // A refused connect shows as an exception on the socket, not as
    // writability.
    WSAPOLLFD waiting{s.get(), POLLOUT, 0};
    for (;;) {
      const std::int64_t left_ns = deadline - MonotonicNanos();
      if (left_ns <= 0) {
        error = WSAETIMEDOUT;
        break;
      }
      const int ready = WSAPoll(&waiting, 1, static_cast<int>((left_ns + 999999) / 1000000));
      if (ready < 0) {
        error = WSAGetLastError();
        break;
      }
      if (ready == 0) continue;
      int size = sizeof error;
      if (getsockopt(s.get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0) {
        error = WSAGetLastError();
      }
      break;
    }
  }
  result.elapsed_ms = ElapsedMs(start, MonotonicNanos());
  result.kind = error == 0                 ? ConnectResult::Kind::kOpen
                : error == WSAECONNREFUSED ? ConnectResult::Kind::kRefused
                : error == WSAETIMEDOUT    ? ConnectResult::Kind::kTimedOut
                                           : ConnectResult::Kind::kError;
  return result;
}

void SleepSeconds(double seconds) {
  if (!(seconds > 0)) return;
  Sleep(static_cast<DWORD>(seconds * 1000));
}

}  // namespace quorvex::probes
