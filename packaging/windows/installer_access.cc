// quorvex-access.exe: the permissions the installer gives what it
// installs. The installer runs it from its own temporary folder; it is
// never installed.
//
//   quorvex-access.exe ACCOUNT KIND PATH [KIND PATH]...
//
// ACCOUNT is the scheduled task's account. Each KIND names what PATH is:
//   program   the program folder, made when missing: SYSTEM and
//             Administrators full control, ACCOUNT and Users read and
//             execute;
//   state     the job's state folder, made when missing: SYSTEM and
//             Administrators full control, ACCOUNT modify, Users nothing;
//   settings  the settings file, when present: read for SYSTEM,
//             Administrators and ACCOUNT, write for Administrators only,
//             Users nothing.
// Each gets Administrators as its owner and a protected access list:
// nothing is inherited from the folders above, which on a drive's root or
// in ProgramData let every user create files. Everything already inside a
// folder, at any depth, gets Administrators as its owner and exactly the
// entries it inherits from that folder, whatever it held before: a file
// planted while the folder was open to everyone keeps no right of the one
// who planted it. A settings file inside the program folder gets its own
// list at once, never the folder's for a moment. Links inside a folder get
// the same treatment themselves and are not followed; a link given as
// PATH is refused.
//
// Why a program and not NSIS's System plugin: the work needs privileges,
// SIDs, security descriptors, a walk over a folder tree and error handling
// at every step; here it is plain, compiled, warning-free code whose
// failures name the path, instead of pointer arithmetic in an installer
// script.
//
// Why SetKernelObjectSecurity on handles opened on the object itself, and
// not SetNamedSecurityInfoW: the latter opens by name (following a link
// planted in the folder to wherever it points) and propagates to children
// on its own terms; and wine merges the parent's entries into a list even
// when it is marked protected, so the result could not be checked in the
// tests there.
//
// An account that cannot be found is left out of every list (only SYSTEM
// and Administrators get in) and reported; that is no failure here, since
// registering the task for the same account fails next and says so.
// Exit status: 0 done, 1 some path could not be secured (each reason on
// standard output), 2 wrong arguments.
#include <windows.h>
// After windows.h, which it needs.
#include <sddl.h>

#include <cstdio>
#include <cwctype>
#include <string>
#include <vector>

namespace {

// Read and execute; modify (read, write, execute and delete).
constexpr wchar_t kReadExecute[] = L"0x1200a9";
constexpr wchar_t kModify[] = L"0x1301bf";

struct Ace {
  std::wstring rights;  // SDDL rights: FA, FR or a mask
  std::wstring sid;     // SDDL alias or SID text
};

enum class Form { kProtected, kInherited };

class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

// The security descriptor in SDDL: Administrators as owner, the entries
// as they stand on a protected object or as its children inherit them.
std::wstring Sddl(const std::vector<Ace>& aces, Form form, bool folder) {
  std::wstring flags = folder ? L"OICI" : L"";
  if (form == Form::kInherited) flags += L"ID";
  std::wstring text = form == Form::kProtected ? L"O:BAD:PAI" : L"O:BAD:AI";
  for (const Ace& ace : aces) text += L"(A;" + flags + L";" + ace.rights + L";;;" + ace.sid + L")";
  return text;
}

void EnablePrivileges() {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &raw)) return;
  Handle token(raw);
  // Taking ownership and restoring let an administrator reset what
  // someone else's permissions shut out.
  for (const wchar_t* name :
       {L"SeTakeOwnershipPrivilege", L"SeRestorePrivilege", L"SeBackupPrivilege"}) {
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid)) {
      AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
    }
  }
}

// The SID text of account, or empty when it cannot be found.
std::wstring AccountSid(const std::wstring& account) {
  BYTE sid[SECURITY_MAX_SID_SIZE];
  DWORD sid_size = sizeof sid;
  wchar_t domain[256];
  DWORD domain_size = 256;
  SID_NAME_USE use;
  if (!LookupAccountNameW(nullptr, account.c_str(), sid, &sid_size, domain, &domain_size, &use)) {
    std::printf(
        "The account %ls cannot be found (error %lu): only SYSTEM and Administrators "
        "get access.\n",
        account.c_str(), GetLastError());
    return {};
  }
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(sid, &text)) return {};
  std::wstring result = text;
  LocalFree(text);
  return result;
}

bool Report(const std::wstring& path, const char* what, DWORD error) {
  std::printf("%ls: %s failed (error %lu)\n", path.c_str(), what, error);
  return false;
}

// Sets owner and access list of the object at path itself (a link is not
// followed).
bool Apply(const std::wstring& path, const std::wstring& sddl, Form form) {
  Handle object(CreateFileW(path.c_str(), READ_CONTROL | WRITE_DAC | WRITE_OWNER,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (object.get() == INVALID_HANDLE_VALUE) return Report(path, "opening", GetLastError());
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    return Report(path, "reading the permissions", GetLastError());
  }
  // The owner first: once Administrators own it, they may rewrite the list.
  bool ok = SetKernelObjectSecurity(object.get(), OWNER_SECURITY_INFORMATION, descriptor) ||
            Report(path, "setting the owner", GetLastError());
  const SECURITY_INFORMATION list =
      DACL_SECURITY_INFORMATION |
      (form == Form::kProtected ? PROTECTED_DACL_SECURITY_INFORMATION
                                : UNPROTECTED_DACL_SECURITY_INFORMATION);
  ok = (SetKernelObjectSecurity(object.get(), list, descriptor) ||
        Report(path, "setting the permissions", GetLastError())) &&
       ok;
  LocalFree(descriptor);
  return ok;
}

std::wstring Folded(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

struct Target {
  std::wstring kind;
  std::wstring path;
};

class Securer {
 public:
  Securer(std::wstring account_sid, std::vector<Target> targets)
      : account_(std::move(account_sid)), targets_(std::move(targets)) {}

  bool Run() {
    bool ok = true;
    for (const Target& target : targets_) ok = Secure(target) && ok;
    return ok;
  }

 private:
  std::vector<Ace> AcesOf(const std::wstring& kind) const {
    const bool own = !account_.empty() && account_ != L"S-1-5-18" && account_ != L"S-1-5-32-544";
    std::vector<Ace> aces;
    if (kind == L"settings") {
      aces = {{L"FR", L"SY"}, {L"FA", L"BA"}};
      if (own) aces.push_back({L"FR", account_});
    } else {
      aces = {{L"FA", L"SY"}, {L"FA", L"BA"}};
      if (own) aces.push_back({kind == L"state" ? kModify : kReadExecute, account_});
      if (kind == L"program") aces.push_back({kReadExecute, L"BU"});
    }
    return aces;
  }

  bool IsSettingsFile(const std::wstring& path) const {
    for (const Target& target : targets_) {
      if (target.kind == L"settings" && Folded(target.path) == Folded(path)) return true;
    }
    return false;
  }

  bool Secure(const Target& target) {
    const bool folder = target.kind != L"settings";
    DWORD attributes = GetFileAttributesW(target.path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      if (!folder) return true;  // no settings file yet
      if (!CreateFolder(target.path)) return false;
      attributes = GetFileAttributesW(target.path.c_str());
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      std::printf("%ls is a link: replace it with a real %s\n", target.path.c_str(),
                  folder ? "folder" : "file");
      return false;
    }
    const std::vector<Ace> aces = AcesOf(target.kind);
    // The folder itself first, so that nothing new gets in while its
    // content is reset.
    if (!Apply(target.path, Sddl(aces, Form::kProtected, folder), Form::kProtected)) return false;
    std::printf("Secured %ls\n", target.path.c_str());
    return !folder || ResetContent(target.path, aces);
  }

  bool CreateFolder(const std::wstring& path) {
    // The folders above are made as the system makes them.
    for (std::size_t at = path.find_first_of(L"\\/", 3); at != std::wstring::npos;
         at = path.find_first_of(L"\\/", at + 1)) {
      CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
    }
    if (CreateDirectoryW(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS) {
      return true;
    }
    return Report(path, "making the folder", GetLastError());
  }

  static std::wstring Join(const std::wstring& folder, const std::wstring& name) {
    const bool separated = !folder.empty() && (folder.back() == L'\\' || folder.back() == L'/');
    return separated ? folder + name : folder + L"\\" + name;
  }

  bool ResetContent(const std::wstring& folder, const std::vector<Ace>& aces) {
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(Join(folder, L"*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      return error == ERROR_FILE_NOT_FOUND || Report(folder, "listing", error);
    }
    bool ok = true;
    do {
      const std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring path = Join(folder, name);
      if (IsSettingsFile(path)) continue;  // secured as a target of its own
      const bool is_folder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      const bool is_link = (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
      ok = Apply(path, Sddl(aces, Form::kInherited, is_folder), Form::kInherited) && ok;
      if (is_folder && !is_link) ok = ResetContent(path, aces) && ok;
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    return ok;
  }

  std::wstring account_;
  std::vector<Target> targets_;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 4 || argc % 2 != 0) {
    std::printf("usage: quorvex-access ACCOUNT program|state|settings PATH [KIND PATH]...\n");
    return 2;
  }
  std::vector<Target> targets;
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::wstring kind = argv[i];
    if (kind != L"program" && kind != L"state" && kind != L"settings") {
      std::printf("unknown kind %ls\n", argv[i]);
      return 2;
    }
    targets.push_back({kind, argv[i + 1]});
  }
  EnablePrivileges();
  Securer securer(AccountSid(argv[1]), targets);
  return securer.Run() ? 0 : 1;
}
