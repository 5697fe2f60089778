// Write access on POSIX: the mode bits and the owner. Only root and the
// user the job runs as are trusted; a file or folder that its group or
// everyone may write, or that belongs to another user (who may change its
// mode at will), could have been changed by someone else. The check follows
// symbolic links, as starting the program does. Access control lists need
// no reading of their own: any entry granting write access to another user
// or group shows as the group write bit.
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>
#include <vector>

#include "platform/write_access.h"

namespace quorvex {
namespace {

std::string UserName(uid_t uid) {
  passwd entry;
  passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
    return std::string(found->pw_name) + " (uid " + std::to_string(uid) + ")";
  }
  return "uid " + std::to_string(uid);
}

std::string GroupName(gid_t gid) {
  group entry;
  group* found = nullptr;
  std::vector<char> buffer(16384);
  if (getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
    return std::string(found->gr_name);
  }
  return "gid " + std::to_string(gid);
}

}  // namespace

std::string WhyOthersMayChange(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    return "cannot be examined: " + std::generic_category().message(errno);
  }
  if (info.st_uid != 0 && info.st_uid != geteuid()) {
    return "belongs to " + UserName(info.st_uid) + ", neither root nor the job's user";
  }
  if ((info.st_mode & S_IWOTH) != 0) return "is writable by everyone";
  if ((info.st_mode & S_IWGRP) != 0) return "is writable by its group " + GroupName(info.st_gid);
  return {};
}

std::string WhyOthersMayMoveEntries(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    return "cannot be examined: " + std::generic_category().message(errno);
  }
  // Only an entry's owner, the folder's owner and root may rename or remove
  // what a sticky folder holds.
  if (info.st_uid == 0 || info.st_uid == geteuid()) {
    if (S_ISDIR(info.st_mode) && (info.st_mode & S_ISVTX) != 0) return {};
  }
  return WhyOthersMayChange(path);
}

std::string UntrustedPlaceAdvice() {
  return "Let it and every folder above it belong to root or the job's user and be writable by "
         "their owner only (chown root, chmod go-w); above it, a folder that others may write "
         "needs the sticky bit (chmod +t). A state directory or lock file someone else made is "
         "best moved aside, to look at what it holds, for the next run to make anew.";
}

std::string ReplaceableToolAdvice() {
  return "Let the tool's file and its folders up to the program folder belong to root and be "
         "writable by their owner only (chown root, chmod go-w).";
}

std::string WhyOrdinaryUsersMayRead(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    return "cannot be examined: " + std::generic_category().message(errno);
  }
  return (info.st_mode & S_IROTH) != 0 ? "is readable by everyone" : "";
}

std::string PrivateSettingsAdvice() {
  return "Let only root and the job's group read it (chown root:quorvex, chmod 0640), as the "
         "package sets it.";
}

}  // namespace quorvex
