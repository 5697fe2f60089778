// Write access on Windows: the owner and the access list of the file or
// folder, read with GetNamedSecurityInfoW. Trusted are SYSTEM, the
// Administrators group, TrustedInstaller (which owns the system's own
// files) and the account of this process. Anyone else must neither own the
// object (an owner may always rewrite its access list) nor be allowed by
// the list any right that changes it: writing or appending data (adding
// files or folders, for a folder), deleting it or its entries, or changing
// its permissions or owner.
//
// Only allowing entries are read. A denying entry placed before them could
// take such a right away again; ignoring it can only make the answer
// stricter than the system's, never laxer. Entries that only pass on to
// the folder's children do not apply to the folder itself and are skipped.
#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/windows_text.h"
#include "platform/write_access.h"

namespace quorvex {
namespace {

constexpr ACCESS_MASK kChangingRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD |
                                        DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                        GENERIC_ALL;

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

bool IsTrusted(PSID sid, const std::vector<BYTE>& process_user) {
  if (sid == nullptr || !IsValidSid(sid)) return false;
  if (IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid)) {
    return true;
  }
  if (!process_user.empty() && EqualSid(sid, const_cast<BYTE*>(process_user.data()))) return true;
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

// The first account that an allowing entry of dacl, applying to the object
// itself, grants any of rights and that matches; nullptr when there is none.
template <typename Match>
PSID FirstGrantee(PACL dacl, ACCESS_MASK rights, Match matches) {
  for (WORD i = 0; i < dacl->AceCount; ++i) {
    void* entry = nullptr;
    if (!GetAce(dacl, i, &entry)) continue;
    const auto* header = static_cast<ACE_HEADER*>(entry);
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE) != 0) {
      continue;
    }
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
    const PSID sid = &allowed->SidStart;
    if ((allowed->Mask & rights) != 0 && matches(sid)) return sid;
  }
  return nullptr;
}

}  // namespace

std::string WhyOthersMayChange(const std::string& path) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD error = GetNamedSecurityInfoW(Utf8ToWide(path).c_str(), SE_FILE_OBJECT,
                                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                            &owner, nullptr, &dacl, nullptr, &descriptor);
  if (error != ERROR_SUCCESS) return "cannot be examined: error " + std::to_string(error);
  std::unique_ptr<void, LocalDeleter> owned(descriptor);
  const std::vector<BYTE> process_user = ProcessUser();
  if (!IsTrusted(owner, process_user)) return "belongs to " + AccountName(owner);
  if (dacl == nullptr) return "has no access list, so everyone may change it";
  const PSID other =
      FirstGrantee(dacl, kChangingRights, [&](PSID sid) { return !IsTrusted(sid, process_user); });
  return other == nullptr ? std::string() : "may be changed by " + AccountName(other);
}

std::string ReplaceableToolAdvice() {
  return "Let only SYSTEM, Administrators and the job's account change the tool's file and its "
         "folders up to the program folder; installing again resets the program folder's "
         "permissions.";
}

std::string WhyOrdinaryUsersMayRead(const std::string& path) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD error =
      GetNamedSecurityInfoW(Utf8ToWide(path).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                            nullptr, nullptr, &dacl, nullptr, &descriptor);
  if (error != ERROR_SUCCESS) return "cannot be examined: error " + std::to_string(error);
  std::unique_ptr<void, LocalDeleter> owned(descriptor);
  if (dacl == nullptr) return "has no access list, so everyone may read it";
  constexpr ACCESS_MASK kReadingRights = FILE_READ_DATA | GENERIC_READ | GENERIC_ALL;
  const PSID reader = FirstGrantee(dacl, kReadingRights, [](PSID sid) {
    return IsWellKnownSid(sid, WinWorldSid) || IsWellKnownSid(sid, WinBuiltinUsersSid) ||
           IsWellKnownSid(sid, WinAuthenticatedUserSid) || IsWellKnownSid(sid, WinInteractiveSid);
  });
  return reader == nullptr ? std::string() : "may be read by " + AccountName(reader);
}

std::string PrivateSettingsAdvice() {
  return "Let only SYSTEM, Administrators and the task's account read it; installing again "
         "resets its permissions.";
}

}  // namespace quorvex
