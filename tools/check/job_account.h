// The account quorvex-check judges access for: the job's account where
// this system lets the check look at another account's rights, otherwise
// the account running the check. Every finding about access names it.
//
// On Linux the job's account is the one given with --user, else "quorvex"
// (as the package makes it) when it exists, else the account running the
// check; its rights are read from the mode bits, the owner and its groups
// (root may do anything on a file system mounted writable). On Windows
// the account running the check is judged, by opening the file for the
// access in question and closing it at once, which changes nothing.
#pragma once

#include <memory>
#include <string>

namespace quorvex {

class JobAccount {
 public:
  virtual ~JobAccount() = default;

  // The account for user (empty: the default above). Throws
  // std::runtime_error naming user when there is no such account, or the
  // platform cannot judge for another account than its own.
  static std::unique_ptr<JobAccount> Find(const std::string& user);

  // Its name, and how it was chosen, to follow "judged for": "quorvex
  // (the job's account)", "root (the account running this check)".
  virtual std::string Describe() const = 0;

  // Empty when the account may read (write) the file at path; else why
  // not, in words that follow the path ("cannot be written by quorvex:
  // it belongs to root and is 0644").
  virtual std::string WhyCannotRead(const std::string& path) const = 0;
  virtual std::string WhyCannotWrite(const std::string& path) const = 0;
  // Empty when the account may create files in the folder at path.
  virtual std::string WhyCannotCreateIn(const std::string& folder) const = 0;
  // Empty when nobody but the administrators and the account may change
  // the file or folder at path; else why (platform/write_access.h's rule,
  // with the job's account as the trusted one).
  virtual std::string WhyUnsafe(const std::string& path) const = 0;
};

}  // namespace quorvex
