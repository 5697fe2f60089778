// Shared pieces of the TCP latency probes (tcping.exe, psping.exe) and the
// ping stand-in: option values, name resolution, one timed TCP connect, and
// numbers written with the user's decimal separator.
//
// The probes print what the job reads back ("Average = X.XXXms") and the
// job reads it under the user's regional settings, so every fraction goes
// through FormatFixed, which writes the decimal separator of the current
// LC_NUMERIC (a probe sets its locale from the environment first). Option
// values on the command line are read with a full stop whatever the locale.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex::probes {

// Address family preference given by -4 / -6 (kAny prefers IPv4).
enum class Family { kAny, kIPv4, kIPv6 };

// One resolved endpoint, ready for connect().
struct Endpoint {
  sockaddr_storage address{};
  socklen_t length = 0;
  std::string ip;  // numeric form, e.g. "127.0.0.1" or "::1"

  // "ip:port", IPv6 addresses between brackets ("[::1]:80").
  std::string Text(int port) const;
};

// Readies the platform's sockets (Winsock on Windows) once per process;
// Resolve and TimedConnect call it themselves.
void StartNetworking();

// Resolves host once for a TCP connection to port. host is a name, an IPv4
// or IPv6 address, or an IPv6 address between brackets as URLs write it
// ("[::1]"). With Family::kAny the first IPv4 answer is taken, else the
// first answer. Returns nullopt when the host does not resolve to an
// address of the wanted family (brackets around anything but an IPv6
// address included).
std::optional<Endpoint> Resolve(const std::string& host, int port, Family family);

// Outcome of one connect attempt.
struct ConnectResult {
  enum class Kind { kOpen, kRefused, kTimedOut, kError } kind = Kind::kError;
  double elapsed_ms = 0;  // monotonic time from connect() to its outcome
};

// Opens one TCP connection to endpoint with a non-blocking connect bounded
// by timeout_s seconds, times it on CLOCK_MONOTONIC, and closes it again.
// REQUIRES: timeout_s > 0.
ConnectResult TimedConnect(const Endpoint& endpoint, double timeout_s);

// Sleeps for seconds (fractional); does nothing for 0 or less.
void SleepSeconds(double seconds);

// Milliseconds between two monotonic readings in nanoseconds, kept to
// whole microseconds.
double ElapsedMs(std::int64_t start_ns, std::int64_t end_ns);

// value with exactly `decimals` digits after the current LC_NUMERIC decimal
// separator ("0.123" in C, "0,123" in de_DE), never with digit groups.
std::string FormatFixed(double value, int decimals);

// Option values as typed on a command line. Each returns nullopt when the
// whole text is not such a value.
std::optional<int> ParseCount(std::string_view text);       // 1..2^31-1
std::optional<int> ParsePort(std::string_view text);        // 1..65535
std::optional<double> ParseSeconds(std::string_view text);  // finite, >= 0

// Answers --help (usage, a program's name and what it does, on standard
// output) or --version (the program's name and the installation's version)
// when either is among args. Returns true when it answered: the program then
// ends with status 0 and does nothing else.
bool AnswerHelpOrVersion(const std::vector<std::string_view>& args, const char* program,
                         const char* usage);

}  // namespace quorvex::probes
