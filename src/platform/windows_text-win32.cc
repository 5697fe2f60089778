#include <windows.h>

#include "platform/windows_text.h"

namespace quorvex {
namespace {

std::wstring ToWide(UINT code_page, std::string_view text) {
  if (text.empty()) return {};
  const int size =
      MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (size <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

std::string FromWide(UINT code_page, std::wstring_view wide) {
  if (wide.empty()) return {};
  const int size = WideCharToMultiByte(code_page, 0, wide.data(), static_cast<int>(wide.size()),
                                       nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string text(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(code_page, 0, wide.data(), static_cast<int>(wide.size()), text.data(), size,
                      nullptr, nullptr);
  return text;
}

}  // namespace

std::wstring Utf8ToWide(std::string_view utf8) { return ToWide(CP_UTF8, utf8); }
std::string WideToUtf8(std::wstring_view wide) { return FromWide(CP_UTF8, wide); }
std::string Utf8ToAnsiCodePage(std::string_view utf8) { return FromWide(CP_ACP, Utf8ToWide(utf8)); }
std::string AnsiCodePageToUtf8(std::string_view ansi) { return WideToUtf8(ToWide(CP_ACP, ansi)); }

bool Utf8ToAnsiCodePageExactly(std::string_view utf8, std::string& ansi) {
  const std::wstring wide = Utf8ToWide(utf8);
  ansi.clear();
  if (wide.empty()) return utf8.empty();
  // A UTF-8 ANSI code page holds every character, and takes neither flag.
  const bool utf8_page = GetACP() == CP_UTF8;
  const DWORD flags = utf8_page ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL defaulted = FALSE;
  BOOL* used_default = utf8_page ? nullptr : &defaulted;
  const int size = WideCharToMultiByte(CP_ACP, flags, wide.data(), static_cast<int>(wide.size()),
                                       nullptr, 0, nullptr, used_default);
  if (size <= 0 || defaulted) return false;
  ansi.assign(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, flags, wide.data(), static_cast<int>(wide.size()), ansi.data(), size,
                      nullptr, nullptr);
  return true;
}

}  // namespace quorvex
