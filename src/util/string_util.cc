#include "util/string_util.h"

#include <algorithm>
#include <vector>

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

std::size_t EditDistanceIgnoringAsciiCase(std::string_view a, std::string_view b) {
  // One row of the table at a time: row[j] is the distance between the
  // part of a read so far and the first j bytes of b.
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      const std::size_t replace = diagonal + (AsciiUpper(a[i - 1]) == AsciiUpper(b[j - 1]) ? 0 : 1);
      row[j] = std::min({above + 1, row[j - 1] + 1, replace});
      diagonal = above;
    }
  }
  return row[b.size()];
}

}  // namespace quorvex
