// The state directory on Windows: %ProgramData%\Quorvex. When the job has
// to create it (the installer normally does), the folder gets a protected
// DACL: full control for SYSTEM, the Administrators and the job's own
// account, nothing inherited from %ProgramData% (where Users may read and
// create). Every file the job creates there gets the same protected DACL,
// so a folder secured less well still leaves other users unable to open
// the job's files.
//
// The guard is LockFileEx on a lock file in that folder. An account that
// cannot open the folder can neither hold the lock (so it cannot make the
// runs refuse) nor take it (so its own run is refused: exit 71). The handle
// is not inheritable, so the tools never hold it.
// clang-format off
#include <windows.h>
#include <knownfolders.h>
#include <sddl.h>
#include <shlobj.h>
// clang-format on

#include <string>

#include "platform/state_directory.h"
#include "platform/windows_text.h"

namespace quorvex {
namespace {

[[noreturn]] void Fail(const std::string& step, const std::string& path,
                       DWORD error = GetLastError()) {
  throw StateError(step + " " + path + " failed (error " + std::to_string(error) + ")");
}

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
  HANDLE release() {
    HANDLE h = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return h;
  }

 private:
  HANDLE handle_;
};

// The SID of the account the job runs as, in SDDL form.
std::wstring OwnAccountSid() {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return L"SY";
  const Handle token(raw);
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  std::string buffer(size, '\0');
  if (size == 0 || !GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) {
    return L"SY";
  }
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) {
    return L"SY";
  }
  std::wstring sid = text;
  LocalFree(text);
  return sid;
}

// Full control for SYSTEM, the Administrators and the job's account,
// protected from inheritance; for a folder, inherited by what it holds.
class OwnersOnly {
 public:
  explicit OwnersOnly(bool folder) {
    const wchar_t* inherit = folder ? L"OICI" : L"";
    const std::wstring sddl = std::wstring(L"D:P(A;") + inherit + L";FA;;;SY)(A;" + inherit +
                              L";FA;;;BA)(A;" + inherit + L";FA;;;" + OwnAccountSid() + L")";
    attributes_.nLength = sizeof attributes_;
    attributes_.bInheritHandle = FALSE;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            sddl.c_str(), SDDL_REVISION_1, &attributes_.lpSecurityDescriptor, nullptr)) {
      attributes_.lpSecurityDescriptor = nullptr;
    }
  }
  ~OwnersOnly() { LocalFree(attributes_.lpSecurityDescriptor); }
  OwnersOnly(const OwnersOnly&) = delete;
  OwnersOnly& operator=(const OwnersOnly&) = delete;

  // Nothing when the descriptor could not be made: the folder's own
  // permissions then apply.
  SECURITY_ATTRIBUTES* get() {
    return attributes_.lpSecurityDescriptor != nullptr ? &attributes_ : nullptr;
  }

 private:
  SECURITY_ATTRIBUTES attributes_{};
};

void WriteAll(HANDLE file, std::string_view bytes, std::size_t offset, const std::string& path) {
  while (!bytes.empty()) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(static_cast<unsigned long long>(offset) >> 32);
    DWORD written = 0;
    if (!WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, &at) ||
        written == 0) {
      Fail("writing", path);
    }
    bytes.remove_prefix(written);
    offset += written;
  }
}

class LockFileGuard final : public SingleInstanceGuard {
 public:
  explicit LockFileGuard(HANDLE file) : file_(file) {}
  ~LockFileGuard() override { CloseHandle(file_); }
  LockFileGuard(const LockFileGuard&) = delete;
  LockFileGuard& operator=(const LockFileGuard&) = delete;

 private:
  HANDLE file_;
};

}  // namespace

std::string StateDirectoryPath() {
  wchar_t chosen[MAX_PATH + 1] = {};
  const DWORD n = GetEnvironmentVariableW(L"QUORVEX_STATE_DIR", chosen, MAX_PATH + 1);
  if (n > MAX_PATH) throw StateError("QUORVEX_STATE_DIR names a path that is too long");
  if (n > 0) return WideToUtf8(std::wstring_view(chosen, n));
  wchar_t* program_data = nullptr;
  if (FAILED(SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &program_data))) {
    CoTaskMemFree(program_data);
    throw StateError("the folder %ProgramData% cannot be found");
  }
  std::string path = WideToUtf8(program_data) + "\\Quorvex";
  CoTaskMemFree(program_data);
  return path;
}

void MakeStateDirectory(const std::string& path) {
  const std::wstring wide = Utf8ToWide(path);
  OwnersOnly security(true);
  if (CreateDirectoryW(wide.c_str(), security.get())) return;
  const DWORD error = GetLastError();
  if (error != ERROR_ALREADY_EXISTS) Fail("creating the state directory", path, error);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    throw StateError("the state directory " + path + " is not a folder");
  }
}

std::string EnvironmentPath(const char* name) {
  const std::wstring wide_name = Utf8ToWide(name);
  const DWORD size = GetEnvironmentVariableW(wide_name.c_str(), nullptr, 0);
  if (size == 0) return {};
  std::wstring value(size, L'\0');
  const DWORD n = GetEnvironmentVariableW(wide_name.c_str(), value.data(), size);
  if (n == 0 || n >= size) return {};
  value.resize(n);
  return WideToUtf8(value);
}

std::string StateFilePath(const std::string& directory, std::string_view name) {
  std::string path = directory;
  if (path.empty() || (path.back() != '\\' && path.back() != '/')) path += '\\';
  path += name;
  return path;
}

void WriteStateFile(const std::string& path, std::string_view content, FileReaders readers,
                    Durability durability) {
  const std::string temporary = path + ".new";
  const std::wstring wide_temporary = Utf8ToWide(temporary);
  {
    OwnersOnly security(false);
    SECURITY_ATTRIBUTES* attributes =
        readers == FileReaders::kOwners ? security.get() : nullptr;  // nullptr: the folder's
    const Handle file(CreateFileW(wide_temporary.c_str(), GENERIC_WRITE, 0, attributes,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.ok()) Fail("creating", temporary);
    try {
      WriteAll(file.get(), content, 0, temporary);
      if (durability != Durability::kCheap && !FlushFileBuffers(file.get())) {
        Fail("syncing", temporary);
      }
    } catch (const StateError&) {
      DeleteFileW(wide_temporary.c_str());
      throw;
    }
  }
  // Write-through: the call returns once the rename is on the disk.
  const DWORD through = durability == Durability::kDurable ? MOVEFILE_WRITE_THROUGH : 0;
  if (!MoveFileExW(wide_temporary.c_str(), Utf8ToWide(path).c_str(),
                   MOVEFILE_REPLACE_EXISTING | through)) {
    const DWORD error = GetLastError();
    DeleteFileW(wide_temporary.c_str());
    Fail("renaming " + temporary + " to", path, error);
  }
}

void OverwriteStateFile(const std::string& path, std::size_t offset, std::string_view bytes) {
  const Handle file(CreateFileW(Utf8ToWide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.ok()) Fail("opening", path);
  WriteAll(file.get(), bytes, offset, path);
  if (!FlushFileBuffers(file.get())) Fail("syncing", path);
}

std::optional<std::string> ReadStateFile(const std::string& path, std::size_t max_bytes) {
  const Handle file(CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.ok()) {
    const DWORD error = GetLastError();
    // As on Linux, a missing folder holds no file either.
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return std::nullopt;
    Fail("opening", path, error);
  }
  LARGE_INTEGER size{};
  if (GetFileType(file.get()) != FILE_TYPE_DISK) throw StateError(path + " is not a regular file");
  if (!GetFileSizeEx(file.get(), &size)) Fail("reading", path);
  if (static_cast<unsigned long long>(size.QuadPart) > max_bytes) {
    throw StateError(path + " is larger than " + std::to_string(max_bytes) + " bytes");
  }
  std::string content(static_cast<std::size_t>(size.QuadPart), '\0');
  std::size_t done = 0;
  while (done < content.size()) {
    DWORD read = 0;
    if (!ReadFile(file.get(), content.data() + done, static_cast<DWORD>(content.size() - done),
                  &read, nullptr)) {
      Fail("reading", path);
    }
    if (read == 0) break;
    done += read;
  }
  content.resize(done);
  return content;
}

void RemoveStateFile(const std::string& path) {
  if (DeleteFileW(Utf8ToWide(path).c_str())) return;
  const DWORD error = GetLastError();
  if (error != ERROR_FILE_NOT_FOUND) Fail("removing", path, error);
}

std::unique_ptr<SingleInstanceGuard> SingleInstanceGuard::TryAcquire(
    const std::string& state_directory) {
  const std::string path = StateFilePath(state_directory, kLockFileName);
  OwnersOnly security(false);
  Handle file(CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, security.get(), OPEN_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.ok()) Fail("opening the lock file", path);
  OVERLAPPED first_byte{};
  if (LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                 &first_byte)) {
    return std::make_unique<LockFileGuard>(file.release());
  }
  const DWORD error = GetLastError();
  if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) return nullptr;
  Fail("locking", path, error);
}

}  // namespace quorvex
