// Notepad's four encodings, read as the system's profile functions read
// them.
#include <string>

#include "platform/editor_text.h"
#include "platform/windows_text.h"
#include "util/utf8.h"

namespace quorvex {

std::string EditorTextToUtf8(std::string text) {
  const bool little = text.starts_with("\xFF\xFE");
  if (little || text.starts_with("\xFE\xFF")) {
    std::wstring wide;
    wide.reserve(text.size() / 2);
    for (std::size_t at = 2; at + 1 < text.size(); at += 2) {
      const auto first = static_cast<unsigned char>(text[at]);
      const auto second = static_cast<unsigned char>(text[at + 1]);
      wide.push_back(static_cast<wchar_t>(little ? first | second << 8 : first << 8 | second));
    }
    return WideToUtf8(wide);
  }
  if (FirstInvalidUtf8(text) == std::string_view::npos) return text;
  return AnsiCodePageToUtf8(text);
}

}  // namespace quorvex
