#include "probe/reply_text.h"

#include <charconv>
#include <cmath>
#include <stdexcept>

namespace quorvex {
namespace {

// Position (from 1) of the first what in text at or after position start
// (from 1), or 0 when there is none. An empty what is found at start; an
// empty text holds nothing.
std::size_t PositionOf(std::size_t start, std::string_view text, std::string_view what) {
  if (text.empty() || start > text.size()) return 0;
  if (what.empty()) return start;
  const std::size_t found = text.find(what, start - 1);
  return found == std::string_view::npos ? 0 : found + 1;
}

std::string RemoveAll(std::string_view text, std::string_view what) {
  std::string result;
  result.reserve(text.size());
  std::size_t from = 0;
  while (true) {
    const std::size_t found = text.find(what, from);
    if (found == std::string_view::npos) break;
    result.append(text.substr(from, found - from));
    from = found + what.size();
  }
  result.append(text.substr(from));
  return result;
}

}  // namespace

std::string TextBetween(std::string_view text, std::string_view start_marker,
                        std::string_view end_marker) {
  const std::size_t p1 = PositionOf(1, text, start_marker);
  if (p1 == 0) return {};
  const std::size_t p2 = PositionOf(p1, text, end_marker);
  // The cut ends before the end marker and must not end before the start
  // marker does.
  if (p2 < p1 + start_marker.size()) return {};
  return std::string(text.substr(p1 - 1 + start_marker.size(), p2 - p1 - start_marker.size()));
}

std::string HostFromUrl(std::string_view url) {
  std::string rest = RemoveAll(RemoveAll(url, "https://"), "http://");
  const std::size_t slash = rest.find('/');
  if (slash != std::string::npos) rest.resize(slash);
  return rest;
}

std::string SqlNumber(double value) {
  if (!std::isfinite(value)) throw std::invalid_argument("a latency must be a finite number");
  if (value == 0) return " 0";  // also for -0
  char digits[400];
  const auto [end, error] =
      std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed);
  if (error != std::errc()) throw std::invalid_argument("latency cannot be written");
  std::string text(digits, end);
  if (value > 0) text.insert(text.begin(), ' ');
  return text;
}

std::string SqlQuoted(std::string_view text) {
  std::string quoted;
  quoted.reserve(text.size());
  for (const char c : text) {
    quoted += c;
    if (c == '\'') quoted += '\'';
  }
  return quoted;
}

}  // namespace quorvex
