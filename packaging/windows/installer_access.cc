// quorvex-access.exe: the permissions the installer gives what it
// installs. The installer runs it from its own temporary folder; it is
// never installed.
//
//   quorvex-access.exe ACCOUNT KIND PATH [KIND PATH]...
//
// ACCOUNT is the scheduled task's account. Each KIND names what PATH is:
//   program   the program folder: SYSTEM and Administrators full control,
//             ACCOUNT and Users read and execute;
//   state     the job's state folder: SYSTEM and Administrators full
//             control, ACCOUNT modify, Users nothing;
//   settings  the settings file, when present: read for SYSTEM,
//             Administrators and ACCOUNT, write for Administrators only,
//             Users nothing.
// Trusted are SYSTEM, Administrators, TrustedInstaller, the account that
// runs this program (an administrator) and ACCOUNT.
//
// A folder is made in one step with Administrators as its owner and its
// protected list (nothing inherited from the folders above, which on a
// drive's root or in ProgramData let every user create folders). One that
// exists already is kept only when it is a real folder, owned by the
// trusted, that nobody else may change; any other is renamed aside to
// PATH.untrusted-<date>-<time> (kept for the administrator to inspect,
// and said where) and made anew, so that nothing found in it is used, the
// settings file included. A kept folder gets that owner and list again,
// and everything inside it, at any depth, Administrators as owner and
// exactly the entries it inherits from the folder: a file planted while
// the folder was open keeps no right of the one who planted it. A settings
// file inside the program folder gets its own list at once, never the
// folder's for a moment. A link is never followed; one given as PATH
// fails.
//
// Before anything changes, each program folder's existing parents below
// the drive's root must be owned by the trusted and let nobody else change
// them: who may delete, rename or add entries there could move the folder
// aside and put one of their own in its place. %ProgramFiles% passes.
// Missing parents are made like the program folder.
//
// The programs are linked statically and need no library beside them: a
// library (*.dll) or a .local redirection (*.exe.local, file or folder) in
// the program folder would be loaded by the job in place of the system's.
// Such entries are deleted without following links; a link among them
// fails (nothing is deleted through it).
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
// on its own terms.
//
// An account that cannot be found is left out of every list (only SYSTEM
// and Administrators get in) and reported; that is no failure here, since
// registering the task for the same account fails next and says so.
// Exit status: 0 done, 1 some path could not be secured (each reason on
// standard output), 2 wrong arguments, 3 a program folder refused for its
// parents (nothing was changed).
#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <cwctype>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace {

// Read and execute; modify (read, write, execute and delete).
constexpr wchar_t kReadExecute[] = L"0x1200a9";
constexpr wchar_t kModify[] = L"0x1301bf";
constexpr wchar_t kTrustedInstaller[] =
    L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

// Rights that change a folder or what it holds: add a file or folder,
// write attributes or extended attributes, delete it or an entry, change
// its permissions or owner, and the generic rights holding them.
constexpr ACCESS_MASK kChanging = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                                  FILE_DELETE_CHILD | FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC |
                                  WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

struct Ace {
  std::wstring rights;  // SDDL rights: FA, FR or a mask
  std::wstring sid;     // SDDL alias or SID text
};

enum class Form { kProtected, kInherited };

class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() {
    if (ok()) CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool ok() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

// Opens the object at path itself, a link included (not followed).
HANDLE OpenItself(const std::wstring& path, DWORD access, DWORD share) {
  return CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

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
  // someone else's permissions shut out, and give Administrators as owner.
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

std::wstring SidText(PSID sid) {
  wchar_t* text = nullptr;
  if (sid == nullptr || !ConvertSidToStringSidW(sid, &text)) return {};
  std::wstring result = text;
  LocalFree(text);
  return result;
}

// "DOMAIN\name", or the SID's text when it has no name.
std::wstring AccountName(PSID sid) {
  wchar_t name[256];
  wchar_t domain[256];
  DWORD name_size = 256;
  DWORD domain_size = 256;
  SID_NAME_USE use;
  if (!LookupAccountSidW(nullptr, sid, name, &name_size, domain, &domain_size, &use)) {
    return SidText(sid);
  }
  return domain_size > 0 ? std::wstring(domain) + L"\\" + name : name;
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
  return SidText(sid);
}

std::wstring ProcessUserSid() {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return {};
  Handle token(raw);
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  if (size == 0 || !GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) {
    return {};
  }
  return SidText(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid);
}

// The account an allowing entry of any kind names, with its rights;
// nullptr for any other entry.
PSID AllowedSid(void* entry, ACCESS_MASK* rights) {
  auto* header = static_cast<ACE_HEADER*>(entry);
  *rights = static_cast<ACCESS_ALLOWED_ACE*>(entry)->Mask;  // the same place in every kind
  switch (header->AceType) {
    case ACCESS_ALLOWED_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_ACE_TYPE:
      return &static_cast<ACCESS_ALLOWED_ACE*>(entry)->SidStart;
    case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE: {
      auto* object = static_cast<ACCESS_ALLOWED_OBJECT_ACE*>(entry);
      auto* at = reinterpret_cast<BYTE*>(&object->ObjectType);
      if ((object->Flags & ACE_OBJECT_TYPE_PRESENT) != 0) at += sizeof(GUID);
      if ((object->Flags & ACE_INHERITED_OBJECT_TYPE_PRESENT) != 0) at += sizeof(GUID);
      return at;
    }
    default:
      return nullptr;
  }
}

bool Report(const std::wstring& path, const char* what, DWORD error) {
  std::printf("%ls: %s failed (error %lu)\n", path.c_str(), what, error);
  return false;
}

// Sets owner and access list of the object at path itself.
bool Apply(const std::wstring& path, const std::wstring& sddl, Form form) {
  Handle object(OpenItself(path, READ_CONTROL | WRITE_DAC | WRITE_OWNER, kShareAll));
  if (!object.ok()) return Report(path, "opening", GetLastError());
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

// Makes the folder at path with the descriptor sddl, in one step.
bool MakeFolder(const std::wstring& path, const std::wstring& sddl) {
  SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, FALSE};
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
          sddl.c_str(), SDDL_REVISION_1, &attributes.lpSecurityDescriptor, nullptr)) {
    return false;
  }
  const bool made = CreateDirectoryW(path.c_str(), &attributes);
  const DWORD error = GetLastError();
  LocalFree(attributes.lpSecurityDescriptor);
  SetLastError(error);
  return made;
}

// Calls visit(path, attributes) for each entry of folder, listed first.
bool ForEachEntry(const std::wstring& folder,
                  const std::function<bool(const std::wstring&, DWORD)>& visit) {
  const bool separated = !folder.empty() && (folder.back() == L'\\' || folder.back() == L'/');
  const std::wstring prefix = separated ? folder : folder + L"\\";
  WIN32_FIND_DATAW entry;
  HANDLE search = FindFirstFileW((prefix + L"*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || Report(folder, "listing", error);
  }
  std::vector<std::pair<std::wstring, DWORD>> entries;
  do {
    const std::wstring name = entry.cFileName;
    if (name != L"." && name != L"..") entries.emplace_back(prefix + name, entry.dwFileAttributes);
  } while (FindNextFileW(search, &entry));
  FindClose(search);
  bool ok = true;
  for (const auto& [path, attributes] : entries) ok = visit(path, attributes) && ok;
  return ok;
}

std::wstring Folded(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

bool EndsWith(const std::wstring& text, const std::wstring& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Deletes path and all it holds, found being its attributes as listed:
// the entry's own, so a link (junction or symbolic link) shows as one and
// is neither entered nor deleted. Only the trusted may change the folder
// by now (its list was reset), so what was listed stays what is deleted.
bool Remove(const std::wstring& path, DWORD found) {
  if ((found & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    std::printf("%ls is a link: nothing was deleted through it; remove it yourself.\n",
                path.c_str());
    return false;
  }
  if ((found & FILE_ATTRIBUTE_DIRECTORY) != 0 && !ForEachEntry(path, Remove)) return false;
  Handle object(OpenItself(path, DELETE | FILE_WRITE_ATTRIBUTES, kShareAll));
  if (!object.ok()) return Report(path, "opening", GetLastError());
  if ((found & FILE_ATTRIBUTE_READONLY) != 0) {
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = (found & ~FILE_ATTRIBUTE_READONLY) | FILE_ATTRIBUTE_NORMAL;
    SetFileInformationByHandle(object.get(), FileBasicInfo, &basic, sizeof basic);
  }
  FILE_DISPOSITION_INFO gone{TRUE};
  return SetFileInformationByHandle(object.get(), FileDispositionInfo, &gone, sizeof gone) ||
         Report(path, "deleting", GetLastError());
}

// Where the drive's root of a full path (as GetFullPathNameW makes it)
// ends: its last backslash, in "C:\\" or "\\\\server\\share\\".
std::size_t RootEnd(const std::wstring& path) {
  if (path.rfind(L"\\\\", 0) != 0)
    return path.size() > 2 && path[1] == L':' ? 2 : std::wstring::npos;
  const std::size_t server_end = path.find(L'\\', 2);
  return server_end == std::wstring::npos ? server_end : path.find(L'\\', server_end + 1);
}

struct Target {
  std::wstring kind;
  std::wstring path;
};

class Securer {
 public:
  Securer(std::wstring account_sid, std::vector<Target> targets)
      : account_(std::move(account_sid)), targets_(std::move(targets)) {
    trusted_ = {L"S-1-5-18", L"S-1-5-32-544", kTrustedInstaller, ProcessUserSid(), account_};
  }

  int Run() {
    for (const Target& target : targets_) {
      if (target.kind == L"program" && !ParentsSafe(target.path)) return 3;
    }
    bool ok = true;
    for (const Target& target : targets_) ok = Secure(target) && ok;
    return ok ? 0 : 1;
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
      if (kind != L"state") aces.push_back({kReadExecute, L"BU"});
    }
    return aces;
  }

  bool IsTrusted(PSID sid) const {
    const std::wstring text = SidText(sid);
    for (const std::wstring& trusted : trusted_) {
      if (!text.empty() && text == trusted) return true;
    }
    return false;
  }

  // Why someone else may change the object at path; empty when nobody may.
  std::wstring WhyOthersMayChange(const std::wstring& path) const {
    Handle object(OpenItself(path, READ_CONTROL, kShareAll));
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD error =
        !object.ok() ? GetLastError()
                     : GetSecurityInfo(object.get(), SE_FILE_OBJECT,
                                       OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                       &owner, nullptr, &dacl, nullptr, &descriptor);
    if (error != ERROR_SUCCESS) {
      return L"cannot be examined (error " + std::to_wstring(error) + L")";
    }
    std::wstring why;
    if (!IsTrusted(owner)) why = L"belongs to " + AccountName(owner);
    if (why.empty() && dacl == nullptr) why = L"has no access list";
    for (WORD i = 0; why.empty() && dacl != nullptr && i < dacl->AceCount; ++i) {
      void* entry = nullptr;
      ACCESS_MASK rights = 0;
      if (!GetAce(dacl, i, &entry) ||
          (static_cast<ACE_HEADER*>(entry)->AceFlags & INHERIT_ONLY_ACE) != 0) {
        continue;
      }
      const PSID sid = AllowedSid(entry, &rights);
      if (sid != nullptr && (rights & kChanging) != 0 && !IsTrusted(sid)) {
        why = L"may be changed by " + AccountName(sid);
      }
    }
    LocalFree(descriptor);
    return why;
  }

  // Whether every existing parent of path below the drive's root is a
  // real folder that only the trusted may change; says why not.
  bool ParentsSafe(const std::wstring& path) const {
    for (std::size_t at = RootEnd(path); (at = path.find(L'\\', at + 1)) != std::wstring::npos;) {
      const std::wstring parent = path.substr(0, at);
      const DWORD attributes = GetFileAttributesW(parent.c_str());
      if (attributes == INVALID_FILE_ATTRIBUTES) break;  // made later
      std::wstring why = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? L"is a link"
                         : (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0
                             ? L"is not a folder"
                             : WhyOthersMayChange(parent);
      if (!why.empty()) {
        std::printf(
            "Refused: %ls %ls, so %ls could be replaced. Install below a folder that only "
            "administrators may change, such as %%ProgramFiles%%.\n",
            parent.c_str(), why.c_str(), path.c_str());
        return false;
      }
    }
    return true;
  }

  // Renames path aside; the new name, or empty when it failed.
  static std::wstring MoveAside(const std::wstring& path) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t stamp[32];
    std::swprintf(stamp, 32, L".untrusted-%04u%02u%02u-%02u%02u%02u", now.wYear, now.wMonth,
                  now.wDay, now.wHour, now.wMinute, now.wSecond);
    for (int n = 1; n < 10; ++n) {
      const std::wstring aside = path + stamp + (n > 1 ? L"-" + std::to_wstring(n) : L"");
      if (MoveFileExW(path.c_str(), aside.c_str(), 0)) return aside;
      if (GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_FILE_EXISTS) break;
    }
    Report(path, "moving aside", GetLastError());
    return {};
  }

  // Makes the folder at path with its list, or keeps the trusted one
  // there (true in kept), or renames an untrusted one aside first.
  bool MakeOrKeep(const std::wstring& path, const std::wstring& sddl, bool* kept) {
    for (int attempt = 0; attempt < 2; ++attempt) {
      if (MakeFolder(path, sddl)) return true;
      if (GetLastError() != ERROR_ALREADY_EXISTS) return Report(path, "making", GetLastError());
      const DWORD attributes = GetFileAttributesW(path.c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES &&
          (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        std::printf("%ls is a link: replace it with a real folder\n", path.c_str());
        return false;
      }
      const std::wstring why = WhyOthersMayChange(path);
      if (why.empty()) {
        *kept = true;
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
               Report(path, "using the folder", ERROR_DIRECTORY);
      }
      const std::wstring aside = MoveAside(path);
      if (aside.empty()) return false;
      std::printf("%ls %ls: moved to %ls, kept there for you to inspect; nothing in it is used.\n",
                  path.c_str(), why.c_str(), aside.c_str());
    }
    std::printf("%ls was made again by someone else while it was replaced\n", path.c_str());
    return false;
  }

  bool IsSettingsFile(const std::wstring& path) const {
    for (const Target& target : targets_) {
      if (target.kind == L"settings" && Folded(target.path) == Folded(path)) return true;
    }
    return false;
  }

  bool Secure(const Target& target) {
    const std::vector<Ace> aces = AcesOf(target.kind);
    const bool folder = target.kind != L"settings";
    const std::wstring sddl = Sddl(aces, Form::kProtected, folder);
    if (!folder) {
      const DWORD attributes = GetFileAttributesW(target.path.c_str());
      if (attributes == INVALID_FILE_ATTRIBUTES) return true;  // no settings file yet
      if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        std::printf("%ls is a link: replace it with a real file\n", target.path.c_str());
        return false;
      }
      return Apply(target.path, sddl, Form::kProtected);
    }
    if (target.kind == L"program" && !MakeParents(target.path)) return false;
    bool kept = false;
    if (!MakeOrKeep(target.path, sddl, &kept)) return false;
    // The folder itself first, so that nothing new gets in while its
    // content is reset.
    if (kept && !(Apply(target.path, sddl, Form::kProtected) && ResetContent(target.path, aces))) {
      return false;
    }
    std::printf("Secured %ls\n", target.path.c_str());
    return target.kind != L"program" ||
           ForEachEntry(target.path, [](const std::wstring& path, DWORD attributes) {
             const std::wstring name = Folded(path);
             return !(EndsWith(name, L".dll") || EndsWith(name, L".exe.local")) ||
                    Remove(path, attributes);
           });
  }

  // The missing parents of path, made like a program folder.
  bool MakeParents(const std::wstring& path) const {
    const std::wstring sddl = Sddl(AcesOf(L"program"), Form::kProtected, true);
    for (std::size_t at = RootEnd(path); (at = path.find(L'\\', at + 1)) != std::wstring::npos;) {
      const std::wstring parent = path.substr(0, at);
      if (GetFileAttributesW(parent.c_str()) == INVALID_FILE_ATTRIBUTES &&
          !MakeFolder(parent, sddl)) {
        return Report(parent, "making", GetLastError());
      }
    }
    return true;
  }

  bool ResetContent(const std::wstring& folder, const std::vector<Ace>& aces) {
    return ForEachEntry(folder, [&](const std::wstring& path, DWORD attributes) {
      if (IsSettingsFile(path)) return true;  // secured as a target of its own
      const bool is_folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      const bool is_link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
      const bool ok = Apply(path, Sddl(aces, Form::kInherited, is_folder), Form::kInherited);
      return (!is_folder || is_link || ResetContent(path, aces)) && ok;
    });
  }

  std::wstring account_;
  std::vector<Target> targets_;
  std::vector<std::wstring> trusted_;
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
    // A full path, without "." or ".." and with backslashes only.
    wchar_t full[MAX_PATH];
    const DWORD size = GetFullPathNameW(argv[i + 1], MAX_PATH, full, nullptr);
    if (size == 0 || size >= MAX_PATH || RootEnd(full) == std::wstring::npos) {
      std::printf("%ls is not a usable path\n", argv[i + 1]);
      return 2;
    }
    std::wstring path = full;
    while (path.size() > RootEnd(path) + 1 && path.back() == L'\\') path.pop_back();
    targets.push_back({kind, path});
  }
  EnablePrivileges();
  Securer securer(AccountSid(argv[1]), targets);
  return securer.Run();
}
