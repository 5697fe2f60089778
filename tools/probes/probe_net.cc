#include "probe_net.h"

#ifndef _WIN32
#include <arpa/inet.h>
#include <netdb.h>
#endif

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "platform/locale_separators.h"

namespace quorvex::probes {

namespace {

struct AddrInfoDeleter {
  void operator()(addrinfo* list) const { freeaddrinfo(list); }
};

}  // namespace

std::optional<Endpoint> Resolve(const std::string& host, int port, Family family) {
  StartNetworking();
  addrinfo hints{};
  hints.ai_family = family == Family::kIPv4   ? AF_INET
                    : family == Family::kIPv6 ? AF_INET6
                                              : AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  // Between brackets, as a URL writes it, only an IPv6 address is taken.
  std::string name = host;
  if (name.size() >= 2 && name.front() == '[' && name.back() == ']') {
    name = name.substr(1, name.size() - 2);
    hints.ai_flags |= AI_NUMERICHOST;
    if (family == Family::kAny) hints.ai_family = AF_INET6;
  }
  addrinfo* raw = nullptr;
  std::string service = std::to_string(port);
  if (name.empty() || getaddrinfo(name.c_str(), service.c_str(), &hints, &raw) != 0) {
    return std::nullopt;
  }
  std::unique_ptr<addrinfo, AddrInfoDeleter> list(raw);
  const addrinfo* chosen = nullptr;
  for (const addrinfo* it = list.get(); it != nullptr; it = it->ai_next) {
    if (it->ai_family != AF_INET && it->ai_family != AF_INET6) continue;
    if (chosen == nullptr) chosen = it;
    if (family == Family::kAny && it->ai_family == AF_INET) {
      chosen = it;
      break;
    }
  }
  if (chosen == nullptr || chosen->ai_addrlen > sizeof(sockaddr_storage)) return std::nullopt;

  Endpoint endpoint;
  std::memcpy(&endpoint.address, chosen->ai_addr, chosen->ai_addrlen);
  endpoint.length = static_cast<socklen_t>(chosen->ai_addrlen);
  char text[INET6_ADDRSTRLEN] = {};
  if (getnameinfo(chosen->ai_addr, static_cast<socklen_t>(chosen->ai_addrlen), text, sizeof text,
                  nullptr, 0, NI_NUMERICHOST) != 0) {
    return std::nullopt;
  }
  endpoint.ip = text;
  return endpoint;
}

std::string Endpoint::Text(int port) const {
  std::string port_text = std::to_string(port);
  if (address.ss_family == AF_INET6) return "[" + ip + "]:" + port_text;
  return ip + ":" + port_text;
}

double ElapsedMs(std::int64_t start_ns, std::int64_t end_ns) {
  return static_cast<double>((end_ns - start_ns) / 1000) / 1000.0;
}

std::string FormatFixed(double value, int decimals) {
  char buffer[64];
  auto [end, error] =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
  if (error != std::errc()) return "0";
  std::string text(buffer, end);
  // to_chars writes a full stop; the separator may be more than one byte.
  const std::size_t point = text.find('.');
  if (point != std::string::npos) text.replace(point, 1, CurrentNumericSeparators().decimal);
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

bool AnswerHelpOrVersion(const std::vector<std::string_view>& args, const char* program,
                         const char* usage) {
  for (std::string_view arg : args) {
    if (arg == "--help") {
      std::fputs(usage, stdout);
      return true;
    }
    if (arg == "--version") {
      std::printf("%s (Quorvex Server) %s\n", program, QUORVEX_VERSION);
      return true;
    }
  }
  return false;
}

}  // namespace quorvex::probes
