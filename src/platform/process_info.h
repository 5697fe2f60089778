// Facts about the running process that the job takes from the platform.
#pragma once

#include <memory>
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

// Keeps other instances of the program from running while it is held. The
// lock belongs to the process: the kernel releases it when the process
// ends, however it ends, so it never goes stale.
class SingleInstanceGuard {
 public:
  virtual ~SingleInstanceGuard() = default;

  // Takes the lock tied to executable_path. Returns nullptr when another
  // process holds it. When the lock cannot be taken for any other reason a
  // guard is returned all the same: a broken lock must not stop the
  // installation's runs.
  static std::unique_ptr<SingleInstanceGuard> TryAcquire(const std::string& executable_path);
};

}  // namespace quorvex
