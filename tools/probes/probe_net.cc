#include "probe_net.h"

#include <charconv>
#include <clocale>
#include <cmath>
#include <string>

namespace quorvex::probes {

std::string Endpoint::Text(int port) const {
  std::string port_text = std::to_string(port);
  if (address.ss_family == AF_INET6) return "[" + ip + "]:" + port_text;
  return ip + ":" + port_text;
}

std::string FormatFixed(double value, int decimals) {
  char buffer[64];
  auto [end, error] =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
  if (error != std::errc()) return "0";
  std::string text(buffer, end);
  // to_chars writes a full stop; the separator may be more than one byte.
  const std::size_t point = text.find('.');
  const char* separator = std::localeconv()->decimal_point;
  if (point != std::string::npos && separator != nullptr && *separator != '\0') {
    text.replace(point, 1, separator);
  }
  return text;
}

std::optional<int> ParseCount(std::string_view text) {
  int value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 1) return std::nullopt;
  return value;
}

std::optional<int> ParsePort(std::string_view text) {
  std::optional<int> value = ParseCount(text);
  if (!value || *value > 65535) return std::nullopt;
  return value;
}

std::optional<double> ParseSeconds(std::string_view text) {
  double value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value) ||
      value < 0) {
    return std::nullopt;
  }
  return value;
}

}  // namespace quorvex::probes
