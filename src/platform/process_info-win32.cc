// Process facts from Windows. The single-instance guard is a named mutex
// held for the life of the process: the system releases it when the process
// ends, however it ends.
#include <windows.h>

#include <stdexcept>
#include <string>

#include "platform/process_info.h"
#include "platform/windows_text.h"

namespace quorvex {
namespace {

class MutexGuard final : public SingleInstanceGuard {
 public:
  explicit MutexGuard(HANDLE mutex) : mutex_(mutex) {}
  ~MutexGuard() override { CloseHandle(mutex_); }
  MutexGuard(const MutexGuard&) = delete;
  MutexGuard& operator=(const MutexGuard&) = delete;

 private:
  HANDLE mutex_;
};

// The mutex name: the program folder, folded to lower case (Windows paths
// are matched without regard to case) and with its backslashes replaced,
// which a mutex name may not hold.
std::wstring MutexName(const std::string& program_folder) {
  std::wstring folder = Utf8ToWide(program_folder);
  CharLowerBuffW(folder.data(), static_cast<DWORD>(folder.size()));
  for (wchar_t& c : folder) {
    if (c == L'\\' || c == L'/' || c == L':') c = L'_';
  }
  return L"Quorvex-" + folder;
}

}  // namespace

std::string ExecutablePath() {
  std::wstring path(MAX_PATH, L'\0');
  while (true) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) {
      throw std::runtime_error("cannot find the program's own file: error " +
                               std::to_string(GetLastError()));
    }
    if (n < path.size()) return WideToUtf8(std::wstring_view(path.data(), n));
    path.resize(path.size() * 2);
  }
}

std::string ExecutableFolder() {
  const std::string path = ExecutablePath();
  const std::size_t separator = path.find_last_of("\\/");
  if (separator == std::string::npos) return ".";
  // A drive's root keeps its separator: "C:\".
  if (separator == 2 && path[1] == ':') return path.substr(0, 3);
  return path.substr(0, separator);
}

std::string LocalHostName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(name, &size)) return "localhost";
  return WideToUtf8(std::wstring_view(name, size));
}

std::unique_ptr<SingleInstanceGuard> SingleInstanceGuard::TryAcquire(
    const std::string& program_folder) {
  const std::wstring name = MutexName(program_folder);
  // Global\ reaches every session (a service and a desktop user alike);
  // where the job may not create global objects, its own session will do.
  HANDLE mutex = nullptr;
  DWORD error = 0;
  for (const wchar_t* scope : {L"Global\\", L"Local\\"}) {
    mutex = CreateMutexW(nullptr, TRUE, (scope + name).c_str());
    error = GetLastError();
    if (mutex != nullptr || error != ERROR_ACCESS_DENIED) break;
  }
  if (mutex == nullptr) {
    throw SingleInstanceError(
        "The single-instance guard cannot be set up: creating the mutex for " + program_folder +
        " failed (error " + std::to_string(error) +
        "). The run was not started, so that two runs can never overlap");
  }
  if (error == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return nullptr;
  }
  return std::make_unique<MutexGuard>(mutex);
}

}  // namespace quorvex
