// Process facts from Windows.
#include <windows.h>

#include <stdexcept>
#include <string>

#include "platform/process_info.h"
#include "platform/windows_text.h"

namespace quorvex {
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

}  // namespace quorvex
