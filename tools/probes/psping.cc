// psping.exe: measures TCP connect time to host:port with warm-up probes
// and prints the Windows psping summary, whose "Average = X.XXms" the
// latency sweep reads.
//
//   psping.exe [-n count] [-i interval_s] [-w warmup] [-4|-6] host:port
#include <clocale>
#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "probe_net.h"

namespace {

using quorvex::probes::ConnectResult;
using quorvex::probes::Family;
using quorvex::probes::FormatFixed;

// Time allowed for each connection.
constexpr double kTimeoutSeconds = 2;

struct Options {
  int count = 5;
  double interval_s = 1;
  int warmup = 1;
  Family family = Family::kAny;
  std::string target;
};

constexpr char kUsage[] =
    "usage: psping.exe [-n count] [-i interval_s] [-w warmup] [-4|-6] host:port\n"
    "       psping.exe --help | --version\n"
    "Times TCP connections to host:port after warm-up ones and prints their average.\n"
    "  -n count       probes to measure (default 5)\n"
    "  -i interval_s  seconds between probes, fractions and 0 allowed (default 1)\n"
    "  -w warmup      unmeasured probes sent first (default 1)\n"
    "  -4, -6         use IPv4 / IPv6 only\n"
    "  host:port      target; an IPv6 address goes between brackets ([::1]:80)\n";

int Usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

bool ParseArguments(const std::vector<std::string_view>& args, Options& options) {
  for (size_t i = 0; i < args.size(); ++i) {
    std::string_view arg = args[i];
    if (arg == "-4") {
      options.family = Family::kIPv4;
    } else if (arg == "-6") {
      options.family = Family::kIPv6;
    } else if (arg == "-n" || arg == "-i" || arg == "-w") {
      if (++i == args.size()) return false;
      if (arg == "-n") {
        auto count = quorvex::probes::ParseCount(args[i]);
        if (!count) return false;
        options.count = *count;
      } else if (arg == "-i") {
        auto seconds = quorvex::probes::ParseSeconds(args[i]);
        if (!seconds) return false;
        options.interval_s = *seconds;
      } else if (args[i] == "0") {
        options.warmup = 0;
      } else {
        auto warmup = quorvex::probes::ParseCount(args[i]);
        if (!warmup) return false;
        options.warmup = *warmup;
      }
    } else if (arg.size() > 1 && arg[0] == '-') {
      return false;
    } else if (options.target.empty()) {
      options.target = std::string(arg);
    } else {
      return false;
    }
  }
  return !options.target.empty();
}

// Splits "host:port" or "[v6]:port". Returns false, with the reason in
// error, for a target without exactly one port part.
bool SplitTarget(const std::string& target, std::string& host, int& port, std::string& error) {
  std::string port_text;
  if (!target.empty() && target[0] == '[') {
    const size_t close = target.find(']');
    if (close == std::string::npos || target.compare(close + 1, 1, ":") != 0) {
      error = "expected [address]:port";
      return false;
    }
    host = target.substr(0, close + 1);  // resolved as a bracketed IPv6 address
    port_text = target.substr(close + 2);
  } else {
    const size_t colon = target.find(':');
    if (colon == std::string::npos) {
      error = "no port given; only TCP probes (host:port) are supported";
      return false;
    }
    if (target.find(':', colon + 1) != std::string::npos) {
      error = "more than one port part";
      return false;
    }
    host = target.substr(0, colon);
    port_text = target.substr(colon + 1);
  }
  auto parsed = quorvex::probes::ParsePort(port_text);
  if (host.empty() || host == "[]" || !parsed) {
    error = "expected host:port with a port from 1 to 65535";
    return false;
  }
  port = *parsed;
  return true;
}

const char* FailureText(ConnectResult::Kind kind) {
  switch (kind) {
    case ConnectResult::Kind::kRefused:
      return "The remote computer refused the network connection.";
    case ConnectResult::Kind::kTimedOut:
      return "This operation returned because the timeout period expired.";
    default:
      return "The connection could not be made.";
  }
}

}  // namespace

int main(int argc, char** argv) {
  // Times are printed the way the user writes numbers, which is how the
  // job reads them back.
  std::setlocale(LC_ALL, "");
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  if (quorvex::probes::AnswerHelpOrVersion(args, "psping.exe", kUsage)) return 0;
  Options options;
  if (!ParseArguments(args, options)) return Usage();
  std::string host, error;
  int port = 0;
  if (!SplitTarget(options.target, host, port, error)) {
    std::fprintf(stderr, "Invalid target %s: %s.\n", options.target.c_str(), error.c_str());
    return 1;
  }
  auto endpoint = quorvex::probes::Resolve(host, port, options.family);
  if (!endpoint) {
    std::fprintf(stderr, "The host %s could not be resolved.\n", host.c_str());
    return 1;
  }
  const std::string target = endpoint->Text(port);

  std::printf("TCP connect to %s:\n", target.c_str());
  std::printf("%d iterations (warmup %d) ping test:\n", options.count + options.warmup,
              options.warmup);
  int received = 0;
  double minimum = 0, maximum = 0, total = 0;
  for (int probe = 0; probe < options.count + options.warmup; ++probe) {
    if (probe > 0) quorvex::probes::SleepSeconds(options.interval_s);
    const bool warmup = probe < options.warmup;
    ConnectResult result = quorvex::probes::TimedConnect(*endpoint, kTimeoutSeconds);
    const bool open = result.kind == ConnectResult::Kind::kOpen;
    std::printf(
        "Connecting to %s%s: %s\n", target.c_str(), warmup ? " (warmup)" : "",
        open ? (FormatFixed(result.elapsed_ms, 2) + "ms").c_str() : FailureText(result.kind));
    std::fflush(stdout);
    if (warmup || !open) continue;
    if (received == 0 || result.elapsed_ms < minimum) minimum = result.elapsed_ms;
    if (received == 0 || result.elapsed_ms > maximum) maximum = result.elapsed_ms;
    total += result.elapsed_ms;
    ++received;
  }

  const int lost = options.count - received;
  std::printf("\nTCP connect statistics for %s:\n", target.c_str());
  std::printf("  Sent = %d, Received = %d, Lost = %d (%d%% loss),\n", options.count, received, lost,
              static_cast<int>(std::lround(100.0 * lost / options.count)));
  if (received == 0) return 1;
  std::printf("  Minimum = %sms, Maximum = %sms, Average = %sms\n", FormatFixed(minimum, 2).c_str(),
              FormatFixed(maximum, 2).c_str(), FormatFixed(total / received, 2).c_str());
  return 0;
}
