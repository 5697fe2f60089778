// File-system paths from and to the UTF-8 text the job keeps them in.
//
// On Windows a narrow path is read in the ANSI code page, so a program
// folder such as "C:\Facturación" would be misread from UTF-8 bytes; going
// through char8_t makes both platforms read UTF-8.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace quorvex {

inline std::filesystem::path PathFromUtf8(std::string_view text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

inline std::string Utf8FromPath(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace quorvex
