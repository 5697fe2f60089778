#include "text/locale_number.h"

#include <cfenv>
#include <charconv>
#include <cmath>
#include <optional>
#include <string>

#include "platform/locale_separators.h"

namespace quorvex {
namespace {

bool StartsWith(std::string_view text, std::size_t at, std::string_view what) {
  return !what.empty() && text.substr(at, what.size()) == what;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads text as a number under the given separators and returns its value,
// or nothing when it is not a number. Accepted: spaces, optional sign,
// digits (the group separator may stand between digits of the whole part),
// optional decimal separator with digits, optional exponent, spaces.
std::optional<double> Parse(std::string_view text, const NumericSeparators& seps) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n && text[i] == ' ') ++i;
  std::string plain;  // the number in C notation, for from_chars
  if (i < n && (text[i] == '+' || text[i] == '-')) {
    if (text[i] == '-') plain += '-';
    ++i;
  }
  std::size_t digits = 0;
  while (i < n) {
    if (IsDigit(text[i])) {
      plain += text[i++];
      ++digits;
    } else if (digits > 0 && StartsWith(text, i, seps.group) && i + seps.group.size() < n &&
               IsDigit(text[i + seps.group.size()])) {
      i += seps.group.size();
    } else {
      break;
    }
  }
  if (StartsWith(text, i, seps.decimal)) {
    i += seps.decimal.size();
    plain += '.';
    while (i < n && IsDigit(text[i])) {
      plain += text[i++];
      ++digits;
    }
  }
  if (digits == 0) return std::nullopt;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    std::size_t j = i + 1;
    std::string exponent = "e";
    if (j < n && (text[j] == '+' || text[j] == '-')) exponent += text[j++];
    std::size_t exp_digits = 0;
    while (j < n && IsDigit(text[j])) {
      exponent += text[j++];
      ++exp_digits;
    }
    if (exp_digits == 0) return std::nullopt;
    plain += exponent;
    i = j;
  }
  while (i < n && text[i] == ' ') ++i;
  if (i != n) return std::nullopt;

  double value = 0;
  auto [end, ec] = std::from_chars(plain.data(), plain.data() + plain.size(), value);
  if (ec != std::errc() || end != plain.data() + plain.size()) return std::nullopt;
  return value;
}

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

}  // namespace

bool IsNumeric(std::string_view text) {
  return Parse(text, CurrentNumericSeparators()).has_value();
}

double ToDouble(std::string_view text) {
  std::optional<double> value = Parse(text, CurrentNumericSeparators());
  if (!value) throw NumberConversionError("Type mismatch: " + Quoted(text) + " is not a number");
  return *value;
}

std::int16_t ToInteger16(std::string_view text) {
  const double value = ToDouble(text);
  // nearbyint rounds in the current rounding mode; to-nearest gives a half
  // to the even neighbour.
  const int saved = std::fegetround();
  std::fesetround(FE_TONEAREST);
  const double rounded = std::nearbyint(value);
  std::fesetround(saved);
  if (!(rounded >= -32768.0 && rounded <= 32767.0)) {
    throw NumberConversionError("Overflow: " + Quoted(text) +
                                " lies outside the whole numbers -32768 to 32767");
  }
  return static_cast<std::int16_t>(rounded);
}

}  // namespace quorvex
