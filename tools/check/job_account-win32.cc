// The job's account on Windows: the account running the check, whose
// rights Windows itself judges when a file is opened for an access (and
// closed at once, unchanged). Another account's rights would need its
// token, which only a service may hold.
#include <windows.h>

#include <stdexcept>
#include <string>

#include "job_account.h"
#include "platform/windows_text.h"
#include "platform/write_access.h"

namespace quorvex {
namespace {

std::string WhyNotOpened(const std::string& path, DWORD access, const char* verb) {
  const HANDLE file = CreateFileW(Utf8ToWide(path).c_str(), access,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    CloseHandle(file);
    return {};
  }
  return std::string("cannot be ") + verb + " by the account running this check (error " +
         std::to_string(GetLastError()) + ")";
}

class WindowsAccount final : public JobAccount {
 public:
  std::string Describe() const override {
    wchar_t name[257];
    DWORD size = 257;
    const std::string who = GetUserNameW(name, &size) ? WideToUtf8(name) : "this account";
    return who +
           " (the account running this check; run it as the account of the job's scheduled "
           "task to judge for that one)";
  }
  std::string WhyCannotRead(const std::string& path) const override {
    return WhyNotOpened(path, GENERIC_READ, "read");
  }
  std::string WhyCannotWrite(const std::string& path) const override {
    return WhyNotOpened(path, FILE_WRITE_DATA, "written");
  }
  std::string WhyCannotCreateIn(const std::string& folder) const override {
    return WhyNotOpened(folder, FILE_ADD_FILE, "given new files");
  }
  std::string WhyUnsafe(const std::string& path) const override { return WhyOthersMayChange(path); }
};

}  // namespace

std::unique_ptr<JobAccount> JobAccount::Find(const std::string& user) {
  if (!user.empty()) {
    throw std::runtime_error("--user is not taken on Windows: run the check as " + user +
                             " instead (runas /user:" + user + ")");
  }
  return std::make_unique<WindowsAccount>();
}

}  // namespace quorvex
