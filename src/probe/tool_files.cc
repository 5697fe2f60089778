// Where the latency sweep finds its tools.
#include "probe/tool_files.h"

#include <filesystem>
#include <system_error>

#include "platform/hidden_file.h"
#include "platform/utf8_path.h"
#include "text/locale_number.h"
#include "ui/frm_main.h"
#include "util/string_util.h"

namespace quorvex {

std::string ToolPathFromSetting(const std::string& setting, std::string_view key,
                                const std::string& program_folder) {
  if (AsciiUpperCase(setting).find(key) == std::string::npos) return {};
  std::string folder = program_folder;
  if (folder.empty()) return {};
  if (folder.back() != '/') folder += '/';
  // A backslash in the setting separates folders as "/" does.
  std::string name = setting;
  for (char& c : name) {
    if (c == '\\') c = '/';
  }
  return folder + name;
}

bool IsOrdinaryFile(const std::string& path) {
  if (path.find('\0') != std::string::npos) {
    throw RunTimeError(52, "Bad file name or number");
  }
  std::error_code error;
  const auto status = std::filesystem::status(PathFromUtf8(path), error);
  if (status.type() == std::filesystem::file_type::not_found ||
      error == std::errc::not_a_directory || error == std::errc::permission_denied) {
    return false;
  }
  if (error) throw RunTimeError(52, "Bad file name or number: " + error.message());
  return status.type() == std::filesystem::file_type::regular && !IsHiddenFile(path);
}

std::string ToolTarget(const std::string& host, const std::string& port, bool psping) {
  if (!IsNumeric(port)) return TrimSpaces(host);
  return TrimSpaces(TrimSpaces(host) + (psping ? ":" : " ") + port);
}

std::string ToolCommandLine(const std::string& tool_path, const std::string& options,
                            const std::string& target) {
  return "\"" + tool_path + "\" " + TrimSpaces(options) + " " + TrimSpaces(target);
}

}  // namespace quorvex
