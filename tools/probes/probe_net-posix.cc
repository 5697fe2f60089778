// The probes' sockets, clock and sleep on POSIX.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <memory>

#include "platform/unique_fd.h"
#include "probe_net.h"

namespace quorvex::probes {
namespace {

std::int64_t MonotonicNanos() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

ConnectResult::Kind KindOf(int error) {
  if (error == 0) return ConnectResult::Kind::kOpen;
  if (error == ECONNREFUSED) return ConnectResult::Kind::kRefused;
  if (error == ETIMEDOUT) return ConnectResult::Kind::kTimedOut;
  return ConnectResult::Kind::kError;
}

}  // namespace

void StartNetworking() {}

ConnectResult TimedConnect(const Endpoint& endpoint, double timeout_s) {
  ConnectResult result;
  UniqueFd socket_fd(
      socket(endpoint.address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (socket_fd.get() < 0) return result;

  const std::int64_t start = MonotonicNanos();
  int error = 0;
  if (connect(socket_fd.get(), reinterpret_cast<const sockaddr*>(&endpoint.address),
              endpoint.length) != 0) {
    error = errno;
  }
  if (error == EINPROGRESS) {
    const std::int64_t deadline = start + static_cast<std::int64_t>(timeout_s * 1e9);
    pollfd waiting{socket_fd.get(), POLLOUT, 0};
    for (;;) {
      const std::int64_t left_ns = deadline - MonotonicNanos();
      if (left_ns <= 0) {
        error = ETIMEDOUT;
        break;
      }
      // Round up so a wait never ends early and spins.
      const int ready = poll(&waiting, 1, static_cast<int>((left_ns + 999999) / 1000000));
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0) {
        error = errno;
        break;
      }
      if (ready == 0) continue;
      socklen_t size = sizeof error;
      if (getsockopt(socket_fd.get(), SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
      break;
    }
  }
  result.elapsed_ms = ElapsedMs(start, MonotonicNanos());
  result.kind = KindOf(error);
  return result;
}

void SleepSeconds(double seconds) {
  if (!(seconds > 0)) return;
  timespec wait{};
  wait.tv_sec = static_cast<time_t>(seconds);
  wait.tv_nsec = static_cast<long>((seconds - static_cast<double>(wait.tv_sec)) * 1e9);
  while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
  }
}

}  // namespace quorvex::probes
