// Write access on Windows: the owner and the access list of the file or
// folder, read with GetNamedSecurityInfoW and judged by WhyOthersHave.
// Trusted are SYSTEM, the Administrators group, TrustedInstaller (which
// owns the system's own files) and the account of this process. Anyone
// else must neither own the object (an owner may always rewrite its access
// list) nor be allowed by the list any right that changes it: writing or
// appending data (adding files or folders, for a folder), writing its
// attributes (hiding a tool makes the job skip it) or extended attributes,
// deleting it or its entries, or changing its permissions or owner.
#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "platform/access_judgement.h"
#include "platform/windows_text.h"
#include "platform/write_access.h"

namespace quorvex {
namespace {

constexpr ACCESS_MASK kChangingRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                                        FILE_WRITE_ATTRIBUTES | FILE_DELETE_CHILD | DELETE |
                                        WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
// Removing or renaming an entry takes DELETE on the entry (judged one step
// below) or FILE_DELETE_CHILD on its folder; renaming the folder, DELETE
// on it. Adding entries (FILE_ADD_FILE, FILE_ADD_SUBDIRECTORY, and so
// GENERIC_WRITE) replaces nothing that is there.
constexpr ACCESS_MASK kMovingRights =
    FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_ALL;
constexpr ACCESS_MASK kReadingRights = FILE_READ_DATA | GENERIC_READ | GENERIC_ALL;

struct LocalDeleter {
  void operator()(void* memory) const { LocalFree(memory); }
};

// The account this process runs as, as a SID in a buffer of its own.
std::vector<BYTE> ProcessUser() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  const bool ok = size > 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size);
  CloseHandle(token);
  if (!ok) return {};
  const PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
  return std::vector<BYTE>(static_cast<BYTE*>(sid), static_cast<BYTE*>(sid) + GetLengthSid(sid));
}

bool IsTrusted(PSID sid, PSID trusted_user) {
  if (sid == nullptr || !IsValidSid(sid)) return false;
  if (IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid)) {
    return true;
  }
  if (trusted_user != nullptr && EqualSid(sid, trusted_user)) return true;
  // NT SERVICE\TrustedInstaller.
  PSID trusted_installer = nullptr;
  if (!ConvertStringSidToSidW(L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",
                              &trusted_installer)) {
    return false;
  }
  std::unique_ptr<void, LocalDeleter> owned(trusted_installer);
  return EqualSid(sid, trusted_installer) != FALSE;
}

// "DOMAIN\name", the name alone, or the SID's text when it has no name.
std::string AccountName(PSID sid) {
  wchar_t name[256];
  wchar_t domain[256];
  DWORD name_size = 256;
  DWORD domain_size = 256;
  SID_NAME_USE use;
  if (LookupAccountSidW(nullptr, sid, name, &name_size, domain, &domain_size, &use)) {
    const std::wstring account = domain_size > 0 ? std::wstring(domain) + L"\\" + name : name;
    return WideToUtf8(account);
  }
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(sid, &text)) return "an unknown account";
  std::unique_ptr<void, LocalDeleter> owned(text);
  return WideToUtf8(text);
}

// The SID an allowing entry of any kind names, or nullptr for an entry
// that allows nothing (denying, auditing and label entries, and the
// compound kind, which access checks do not use). All of them hold the
// mask right after the header; an object entry's SID follows the GUIDs its
// flags say are present.
PSID AllowedSid(const ACE_HEADER* header) {
  const auto* bytes = reinterpret_cast<const BYTE*>(header);
  switch (header->AceType) {
    case ACCESS_ALLOWED_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_ACE_TYPE:
      return const_cast<BYTE*>(bytes + offsetof(ACCESS_ALLOWED_ACE, SidStart));
    case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE: {
      const auto* object = reinterpret_cast<const ACCESS_ALLOWED_OBJECT_ACE*>(header);
      std::size_t at = offsetof(ACCESS_ALLOWED_OBJECT_ACE, ObjectType);
      if (object->Flags & ACE_OBJECT_TYPE_PRESENT) at += sizeof(GUID);
      if (object->Flags & ACE_INHERITED_OBJECT_TYPE_PRESENT) at += sizeof(GUID);
      return const_cast<BYTE*>(bytes + at);
    }
    default:
      return nullptr;
  }
}

// The first account that an allowing entry of dacl, applying to the object
// itself, grants any of rights and that matches; nullptr when there is none.
template <typename Match>
PSID FirstGrantee(PACL dacl, ACCESS_MASK rights, Match matches) {
  for (WORD i = 0; i < dacl->AceCount; ++i) {
    void* entry = nullptr;
    if (!GetAce(dacl, i, &entry)) continue;
    const auto* header = static_cast<ACE_HEADER*>(entry);
    if ((header->AceFlags & INHERIT_ONLY_ACE) != 0) continue;
    const PSID sid = AllowedSid(header);
    if (sid == nullptr || !IsValidSid(sid)) continue;
    const ACCESS_MASK mask = *reinterpret_cast<const ACCESS_MASK*>(header + 1);
    if ((mask & rights) != 0 && matches(sid)) return sid;
  }
  return nullptr;
}

std::string Judge(GuardedAccess access, const std::string& path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD error = GetNamedSecurityInfoW(Utf8ToWide(path).c_str(), SE_FILE_OBJECT,
                                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                            nullptr, nullptr, nullptr, nullptr, &descriptor);
  if (error != ERROR_SUCCESS) return "cannot be examined: error " + std::to_string(error);
  std::unique_ptr<void, LocalDeleter> owned(descriptor);
  std::vector<BYTE> process_user = ProcessUser();
  return WhyOthersHave(access, descriptor, process_user.empty() ? nullptr : process_user.data());
}

}  // namespace

std::string WhyOthersHave(GuardedAccess access, void* descriptor, void* trusted_user) {
  PSID owner = nullptr;
  BOOL owner_defaulted = FALSE;
  if (!GetSecurityDescriptorOwner(descriptor, &owner, &owner_defaulted)) {
    return "cannot be examined: error " + std::to_string(GetLastError());
  }
  if (!IsTrusted(owner, trusted_user)) {
    return owner == nullptr ? "has no owner" : "belongs to " + AccountName(owner);
  }
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) {
    return "cannot be examined: error " + std::to_string(GetLastError());
  }
  const bool read = access == GuardedAccess::kRead;
  if (!present || dacl == nullptr) {
    return read ? "has no access list, so everyone may read it"
                : "has no access list, so everyone may change it";
  }
  const ACCESS_MASK rights = access == GuardedAccess::kChange        ? kChangingRights
                             : access == GuardedAccess::kMoveEntries ? kMovingRights
                                                                     : kReadingRights;
  // OWNER RIGHTS stands for the owner, trusted by now.
  const PSID other = FirstGrantee(dacl, rights, [&](PSID sid) {
    return !IsTrusted(sid, trusted_user) && !IsWellKnownSid(sid, WinCreatorOwnerRightsSid);
  });
  if (other == nullptr) return {};
  return (read ? "may be read by " : "may be changed by ") + AccountName(other);
}

std::string WhyOthersMayChange(const std::string& path) {
  return Judge(GuardedAccess::kChange, path);
}

std::string WhyOthersMayMoveEntries(const std::string& path) {
  return Judge(GuardedAccess::kMoveEntries, path);
}

std::string ReplaceableToolAdvice() {
  return "Let only SYSTEM, Administrators and the job's account change the tool's file and its "
         "folders up to the program folder; installing again resets the program folder's "
         "permissions.";
}

std::string UntrustedPlaceAdvice() {
  return "Let only SYSTEM, Administrators, TrustedInstaller and the job's account own it and "
         "change it, and nobody else delete or rename what the folders above it hold (icacls "
         "shows who may; a folder under %ProgramFiles% is safe). A state folder or lock file "
         "someone else made is best moved aside, to look at what it holds, for the next run or "
         "the installer to make anew.";
}

std::string WhyOrdinaryUsersMayRead(const std::string& path) {
  return Judge(GuardedAccess::kRead, path);
}

std::string PrivateSettingsAdvice() {
  return "Let only SYSTEM, Administrators and the task's account read it (icacls <file> "
         "/inheritance:r /grant:r *S-1-5-18:F *S-1-5-32-544:F, and read for the task's "
         "account); installing again resets its permissions.";
}

}  // namespace quorvex
