#include "platform/write_access.h"

#include <filesystem>
#include <system_error>
#include <vector>

#include "platform/utf8_path.h"

namespace quorvex {
namespace {

namespace fs = std::filesystem;

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// The file and the folders to judge for tool, the file first.
std::vector<fs::path> JudgedPaths(const std::string& tool, const std::string& program_folder) {
  const bool starts_inside =
      !program_folder.empty() && tool.size() > program_folder.size() &&
      tool.compare(0, program_folder.size(), program_folder) == 0 &&
      (IsSeparator(program_folder.back()) || IsSeparator(tool[program_folder.size()]));
  if (starts_inside) {
    const fs::path relative =
        PathFromUtf8(std::string_view(tool).substr(program_folder.size())).relative_path();
    const fs::path inside = relative.lexically_normal();
    const bool stays_inside = !inside.empty() && !inside.has_root_path() &&
                              *inside.begin() != ".." && *inside.begin() != ".";
    if (stays_inside) {
      const fs::path folder = PathFromUtf8(program_folder);
      std::vector<fs::path> paths = {folder / inside};
      for (fs::path part = inside.parent_path(); !part.empty(); part = part.parent_path()) {
        paths.push_back(folder / part);
      }
      paths.push_back(folder);
      return paths;
    }
  }
  const fs::path file = PathFromUtf8(tool).lexically_normal();
  return {file, file.parent_path()};
}

}  // namespace

std::string WhyToolIsReplaceable(const std::string& tool, const std::string& program_folder) {
  for (const fs::path& path : JudgedPaths(tool, program_folder)) {
    const std::string text = Utf8FromPath(path.empty() ? fs::path(".") : path);
    const std::string reason = WhyOthersMayChange(text);
    if (!reason.empty()) return text + " " + reason;
  }
  return {};
}

std::string WhyFolderIsReplaceable(const std::string& folder) {
  std::error_code ignored;
  fs::path path = fs::absolute(PathFromUtf8(folder), ignored).lexically_normal();
  if (path.empty()) path = PathFromUtf8(folder).lexically_normal();
  if (path.has_relative_path() && !path.has_filename()) path = path.parent_path();
  std::string text = Utf8FromPath(path.empty() ? fs::path(".") : path);
  if (std::string reason = WhyOthersMayChange(text); !reason.empty()) {
    return text + " " + reason;
  }
  for (fs::path above = path.parent_path(); above != path; above = above.parent_path()) {
    if (above.empty()) break;
    path = above;
    text = Utf8FromPath(above);
    if (std::string reason = WhyOthersMayMoveEntries(text); !reason.empty()) {
      return text + " " + reason;
    }
  }
  return {};
}

}  // namespace quorvex
