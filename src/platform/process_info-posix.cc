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

// flock on the program folder: every instance of one installation shares
// it, no writable place is needed, upgrades replace the files inside but
// not the folder, and the lock dies with the process. The descriptor is
// close-on-exec so child tools do not hold it.
class FlockGuard final : public SingleInstanceGuard {
 public:
  explicit FlockGuard(int fd) : fd_(fd) {}
  ~FlockGuard() override { ::close(fd_); }
  FlockGuard(const FlockGuard&) = delete;
  FlockGuard& operator=(const FlockGuard&) = delete;

 private:
  int fd_;
};

std::string GuardProblem(const std::string& folder, const char* step) {
  return "The single-instance guard cannot be set up: " + std::string(step) + " " + folder +
         " failed (" + std::strerror(errno) +
         "). The run was not started, so that two runs can never overlap; the user that "
         "runs the job needs read access to its program folder";
}

}  // namespace

std::unique_ptr<SingleInstanceGuard> SingleInstanceGuard::TryAcquire(
    const std::string& program_folder) {
  const int fd = ::open(program_folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) throw SingleInstanceError(GuardProblem(program_folder, "opening"));
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc == 0) return std::make_unique<FlockGuard>(fd);
  if (errno == EWOULDBLOCK) {
    ::close(fd);
    return nullptr;
  }
  const std::string problem = GuardProblem(program_folder, "locking");
  ::close(fd);
  throw SingleInstanceError(problem);
}

}  // namespace quorvex
