// The job's account on POSIX: rights read from the mode bits, the owner
// and the account's groups, as the kernel grants them.
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "job_account.h"

namespace quorvex {
namespace {

std::string Octal(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

class PosixAccount final : public JobAccount {
 public:
  PosixAccount(const passwd& entry, std::string how)
      : name_(entry.pw_name), how_(std::move(how)), uid_(entry.pw_uid) {
    std::vector<gid_t> groups(64);
    int count = static_cast<int>(groups.size());
    if (getgrouplist(entry.pw_name, entry.pw_gid, groups.data(), &count) < 0) {
      groups.resize(static_cast<std::size_t>(count));
      getgrouplist(entry.pw_name, entry.pw_gid, groups.data(), &count);
    }
    groups.resize(static_cast<std::size_t>(std::max(count, 0)));
    groups_ = groups;
  }

  std::string Describe() const override { return name_ + " (" + how_ + ")"; }

  std::string WhyCannotRead(const std::string& path) const override {
    return Why(path, S_IRUSR, S_IRGRP, S_IROTH, "read", false);
  }
  std::string WhyCannotWrite(const std::string& path) const override {
    return Why(path, S_IWUSR, S_IWGRP, S_IWOTH, "written", true);
  }
  std::string WhyCannotCreateIn(const std::string& folder) const override {
    struct stat info;
    if (::stat(folder.c_str(), &info) != 0) return Unexamined();
    if (!S_ISDIR(info.st_mode)) return "is not a folder";
    const std::string no_write = Why(folder, S_IWUSR, S_IWGRP, S_IWOTH, "written", true);
    if (!no_write.empty()) return no_write;
    return Why(folder, S_IXUSR, S_IXGRP, S_IXOTH, "entered", false);
  }
  std::string WhyUnsafe(const std::string& path) const override {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) return Unexamined();
    if (info.st_uid != 0 && info.st_uid != uid_) {
      return "belongs to uid " + std::to_string(info.st_uid) + ", neither root nor " + name_;
    }
    if ((info.st_mode & S_IWOTH) != 0) return "is writable by everyone";
    if ((info.st_mode & S_IWGRP) != 0) return "is writable by its group";
    return {};
  }

 private:
  static std::string Unexamined() {
    return "cannot be examined: " + std::generic_category().message(errno);
  }

  std::string Why(const std::string& path, mode_t user, mode_t group, mode_t other,
                  const char* verb, bool writing) const {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) return Unexamined();
    struct statvfs volume;
    if (writing && ::statvfs(path.c_str(), &volume) == 0 && (volume.f_flag & ST_RDONLY) != 0) {
      return std::string("cannot be ") + verb + ": its file system is mounted read-only";
    }
    if (uid_ == 0) return {};
    bool granted;
    if (info.st_uid == uid_) {
      granted = (info.st_mode & user) != 0;
    } else if (std::find(groups_.begin(), groups_.end(), info.st_gid) != groups_.end()) {
      granted = (info.st_mode & group) != 0;
    } else {
      granted = (info.st_mode & other) != 0;
    }
    if (granted) return {};
    return std::string("cannot be ") + verb + " by " + name_ + ": it belongs to uid " +
           std::to_string(info.st_uid) + ", gid " + std::to_string(info.st_gid) + ", mode " +
           Octal(info.st_mode);
  }

  std::string name_;
  std::string how_;
  uid_t uid_;
  std::vector<gid_t> groups_;
};

}  // namespace

std::unique_ptr<JobAccount> JobAccount::Find(const std::string& user) {
  std::vector<char> buffer(16384);
  passwd entry;
  passwd* found = nullptr;
  if (!user.empty()) {
    if (getpwnam_r(user.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr) {
      throw std::runtime_error("there is no account " + user);
    }
    return std::make_unique<PosixAccount>(entry, "the account given with --user");
  }
  if (getpwnam_r("quorvex", &entry, buffer.data(), buffer.size(), &found) == 0 &&
      found != nullptr) {
    return std::make_unique<PosixAccount>(entry, "the job's account");
  }
  if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
      found == nullptr) {
    throw std::runtime_error("the account running this check has no name");
  }
  return std::make_unique<PosixAccount>(
      entry, "the account running this check; there is no account quorvex");
}

}  // namespace quorvex
