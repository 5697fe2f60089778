#include "util/string_util.h"

#include <algorithm>

namespace quorvex {
namespace {

template <typename Strip>
std::string_view TrimWith(std::string_view text, Strip strip) {
  while (!text.empty() && strip(text.front())) text.remove_prefix(1);
  while (!text.empty() && strip(text.back())) text.remove_suffix(1);
  return text;
}

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

std::string TrimSpaces(std::string_view text) {
  return std::string(TrimWith(text, [](char c) { return c == ' '; }));
}

std::string_view TrimBlanksAndLineBreaks(std::string_view text) {
  return TrimWith(text, IsBlankOrLineBreak);
}

std::string_view TrimWhitespace(std::string_view text) { return TrimWith(text, IsWhitespace); }

std::string AsciiUpperCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiUpper(c);
  return out;
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](char x, char y) { return AsciiUpper(x) == AsciiUpper(y); });
}

}  // namespace quorvex
