// The job's state directory: its one writable place per installation.
//
// "The same installation" means the same state directory. Whatever happens
// to the program folder during a run (an upgrade replacing the files in it,
// a folder swapped in by mv and cp, a symlink switched to another copy),
// runs that share the state directory keep out of each other's way.
//
// What lives there: the lock file of the single-instance guard, and small
// records that must outlive the process that wrote them (the usage
// report's record of its call, the summary of the last run). The folder
// is $QUORVEX_STATE_DIR when that is set and not empty, else the
// platform's place for a service's data. It is created when missing, open
// to the job's own account and the administrators only; an existing folder
// is used as it is here, and the job judges who may change it
// (platform/write_access.h) before use.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace quorvex {

// A state file or the folder could not be created, read, written or
// removed. what() names the path and the system's reason.
class StateError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The name of the single-instance guard's lock file in the state directory.
inline constexpr char kLockFileName[] = "QuorvexServer.lock";

// The state directory's path; neither checked nor created.
std::string StateDirectoryPath();

// Creates the folder when it is missing (its parent must exist). Throws
// StateError when it cannot be created, or exists and is not a folder.
void MakeStateDirectory(const std::string& path);

// The path of the file `name` in the state directory.
std::string StateFilePath(const std::string& directory, std::string_view name);

// Who may read a file the job writes.
enum class FileReaders {
  kOwners,    // the job's account and the administrators only
  kEveryone,  // also every other account (a metrics collector): on Linux
              // mode 0644, on Windows the permissions of the folder
};

// What a crash or a power loss may do to a file the job replaces.
enum class Durability {
  kDurable,  // nothing: the new content is on the disk when the call returns
  kCheap,    // no sync at all (a file the next run writes anew): it may hold
             // its old content, or with some file systems nothing
};

// Replaces or creates the file at path: written beside it under a
// temporary name (path + ".new") and renamed over it, so that a reader sees
// either the old content or the new one in full, never half of it; what
// survives a crash is as durability says. Throws StateError.
void WriteStateFile(const std::string& path, std::string_view content,
                    FileReaders readers = FileReaders::kOwners,
                    Durability durability = Durability::kDurable);

// The value of the environment variable name as a UTF-8 path; empty when
// it is not set.
std::string EnvironmentPath(const char* name);

// Overwrites bytes of the existing file at path, at offset, in place, and
// syncs them to the disk. It takes no new space, so it works on a full disk
// as long as offset + bytes lies within the file. Throws StateError.
void OverwriteStateFile(const std::string& path, std::size_t offset, std::string_view bytes);

// The content of a small regular file; std::nullopt when there is none.
// Throws StateError when it cannot be read, is not a regular file or holds
// more than max_bytes.
std::optional<std::string> ReadStateFile(const std::string& path, std::size_t max_bytes);

// Removes the file at path and makes that durable; a missing file is
// removed already. Throws StateError.
void RemoveStateFile(const std::string& path);

// Keeps other runs of the same installation from running while it is held.
// It is a lock on a file in the state directory, which belongs to the
// process: the system releases it when the process ends, however it ends,
// so it never goes stale, and it is never handed to a child process.
class SingleInstanceGuard {
 public:
  virtual ~SingleInstanceGuard() = default;

  // Takes the lock of the installation whose state directory is given.
  // Returns nullptr when another process holds it. Throws StateError, with
  // a description an operator can act on, when it cannot be taken for any
  // other reason (the job's account cannot open or create the lock file).
  static std::unique_ptr<SingleInstanceGuard> TryAcquire(const std::string& state_directory);
};

}  // namespace quorvex
