// Facts about the running process that the job takes from the platform.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

namespace quorvex {

// Full path of the running executable. Throws std::runtime_error when the
// platform cannot tell.
std::string ExecutablePath();

// Folder that holds the running executable, without a trailing separator
// (except for the root folder itself).
std::string ExecutableFolder();

// The local host name.
std::string LocalHostName();

// Raised when the single-instance guard cannot be set up. The run must not
// go on without the guard: two overlapping runs would send the same reports
// twice.
class SingleInstanceError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Keeps other instances of the program from running while it is held. The
// lock is on the program folder, which stays the same when a package
// upgrade replaces the files in it during a run, and belongs to the
// process: the kernel releases it when the process ends, however it ends,
// so it never goes stale.
class SingleInstanceGuard {
 public:
  virtual ~SingleInstanceGuard() = default;

  // Takes the lock tied to program_folder. Returns nullptr when another
  // process holds it. Throws SingleInstanceError, with a description an
  // operator can act on, when the lock cannot be taken for any other
  // reason (the folder cannot be opened, the file system refuses locks).
  static std::unique_ptr<SingleInstanceGuard> TryAcquire(const std::string& program_folder);
};

}  // namespace quorvex
