// The state directory on Linux: /var/lib/quorvex, the StateDirectory= of
// the service unit, made 0750 when the job has to create it itself. The
// guard is flock on a lock file there; the descriptor is close-on-exec so
// the tools the job starts never hold it.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/state_directory.h"
#include "platform/unique_fd.h"

namespace quorvex {
namespace {

constexpr char kDefaultDirectory[] = "/var/lib/quorvex";

[[noreturn]] void Fail(const std::string& step, const std::string& path) {
  throw StateError(step + " " + path + " failed (" + std::strerror(errno) + ")");
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// A rename or an unlink is durable once the folder that holds the name is.
void SyncFolder(const std::string& path) {
  const std::string folder = FolderOf(path);
  const UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() < 0 || ::fsync(fd.get()) != 0) Fail("syncing the folder", folder);
}

void WriteAll(int fd, std::string_view bytes, off_t offset, const std::string& path) {
  while (!bytes.empty()) {
    const ssize_t n = ::pwrite(fd, bytes.data(), bytes.size(), offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Fail("writing", path);
    bytes.remove_prefix(static_cast<std::size_t>(n));
    offset += n;
  }
}

// Holds the locked descriptor: closing it, however the process ends,
// releases the lock.
class FlockGuard final : public SingleInstanceGuard {
 public:
  explicit FlockGuard(int fd) : fd_(fd) {}

 private:
  UniqueFd fd_;
};

}  // namespace

std::string StateDirectoryPath() {
  const char* chosen = std::getenv("QUORVEX_STATE_DIR");
  return chosen != nullptr && *chosen != '\0' ? chosen : kDefaultDirectory;
}

void MakeStateDirectory(const std::string& path) {
  if (::mkdir(path.c_str(), 0750) == 0) return;
  if (errno != EEXIST) Fail("creating the state directory", path);
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) Fail("opening the state directory", path);
  if (!S_ISDIR(status.st_mode)) {
    throw StateError("the state directory " + path + " is not a folder");
  }
}

std::string EnvironmentPath(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string StateFilePath(const std::string& directory, std::string_view name) {
  std::string path = directory;
  if (path.empty() || path.back() != '/') path += '/';
  path += name;
  return path;
}

void WriteStateFile(const std::string& path, std::string_view content, FileReaders readers,
                    Durability durability) {
  const std::string temporary = path + ".new";
  {
    const UniqueFd fd(
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0640));
    if (fd.get() < 0) Fail("creating", temporary);
    try {
      // Whatever the umask: a collector running as another user reads it.
      if (readers == FileReaders::kEveryone && ::fchmod(fd.get(), 0644) != 0) {
        Fail("opening to readers", temporary);
      }
      WriteAll(fd.get(), content, 0, temporary);
      if (durability != Durability::kCheap && ::fsync(fd.get()) != 0) Fail("syncing", temporary);
    } catch (const StateError&) {
      ::unlink(temporary.c_str());
      throw;
    }
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    errno = error;
    Fail("renaming " + temporary + " to", path);
  }
  if (durability == Durability::kDurable) SyncFolder(path);
}

void OverwriteStateFile(const std::string& path, std::size_t offset, std::string_view bytes) {
  const UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW));
  if (fd.get() < 0) Fail("opening", path);
  WriteAll(fd.get(), bytes, static_cast<off_t>(offset), path);
  if (::fdatasync(fd.get()) != 0) Fail("syncing", path);
}

std::optional<std::string> ReadStateFile(const std::string& path, std::size_t max_bytes) {
  // Non-blocking, so that a named pipe put there cannot hold the run.
  const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW));
  if (fd.get() < 0) {
    if (errno == ENOENT) return std::nullopt;
    Fail("opening", path);
  }
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0) Fail("reading", path);
  if (!S_ISREG(status.st_mode)) throw StateError(path + " is not a regular file");
  if (static_cast<std::size_t>(status.st_size) > max_bytes) {
    throw StateError(path + " is larger than " + std::to_string(max_bytes) + " bytes");
  }
  std::string content(static_cast<std::size_t>(status.st_size), '\0');
  std::size_t done = 0;
  while (done < content.size()) {
    const ssize_t n = ::read(fd.get(), content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Fail("reading", path);
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  content.resize(done);
  return content;
}

void RemoveStateFile(const std::string& path) {
  if (::unlink(path.c_str()) != 0) {
    if (errno == ENOENT) return;
    Fail("removing", path);
  }
  SyncFolder(path);
}

std::unique_ptr<SingleInstanceGuard> SingleInstanceGuard::TryAcquire(
    const std::string& state_directory) {
  // Opened for reading only: a lock file left by an earlier run needs no
  // more than that, also on a read-only file system.
  const std::string path = StateFilePath(state_directory, kLockFileName);
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0640));
  if (fd.get() < 0) Fail("opening the lock file", path);
  int rc;
  do {
    rc = ::flock(fd.get(), LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc == 0) return std::make_unique<FlockGuard>(fd.release());
  if (errno == EWOULDBLOCK) return nullptr;
  Fail("locking", path);
}

}  // namespace quorvex
