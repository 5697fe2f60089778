#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

#include "platform/process_info.h"

namespace quorvex {

std::string ExecutablePath() {
  std::string path(PATH_MAX, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
  if (n <= 0) {
    throw std::runtime_error(std::string("cannot find the program's own file: ") +
                             std::strerror(errno));
  }
  path.resize(static_cast<std::size_t>(n));
  return path;
}

std::string ExecutableFolder() {
  const std::string path = ExecutablePath();
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string LocalHostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return "localhost";
  return name;
}

namespace {

// flock on the executable itself: every instance of one installation shares
// the file, no writable folder is needed, and the lock dies with the
// process. The descriptor is close-on-exec so child tools do not hold it.
class FlockGuard final : public SingleInstanceGuard {
 public:
  explicit FlockGuard(int fd) : fd_(fd) {}
  ~FlockGuard() override {
    if (fd_ >= 0) ::close(fd_);
  }
  FlockGuard(const FlockGuard&) = delete;
  FlockGuard& operator=(const FlockGuard&) = delete;

 private:
  int fd_;
};

}  // namespace

std::unique_ptr<SingleInstanceGuard> SingleInstanceGuard::TryAcquire(
    const std::string& executable_path) {
  const int fd = ::open(executable_path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::make_unique<FlockGuard>(-1);
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    const bool held_by_other = (errno == EWOULDBLOCK);
    if (held_by_other) {
      ::close(fd);
      return nullptr;
    }
  }
  return std::make_unique<FlockGuard>(fd);
}

}  // namespace quorvex
