#include "ui/console_state.h"

#include <filesystem>
#include <fstream>
#include <system_error>
#include <utility>

namespace quorvex {

std::string EscapeForState(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '\\':
        escaped += "\\\\";
        break;
      case '\n':
        escaped += "\\n";
        break;
      case '\r':
        escaped += "\\r";
        break;
      case '\t':
        escaped += "\\t";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

void ConsoleStateFile::Update(std::string state) {
  if (state == last_) return;
  const std::string temporary = path_ + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << state;
    if (!out.flush()) return;
  }
  // std::filesystem::rename replaces an existing file on Windows too.
  std::error_code error;
  std::filesystem::rename(temporary, path_, error);
  if (!error) last_ = std::move(state);
}

}  // namespace quorvex
