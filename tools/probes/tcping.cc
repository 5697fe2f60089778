// tcping.exe: measures TCP connect time to host:port and prints the
// Windows tcping summary, whose "Average = X.XXXms" the latency sweep reads.
//
//   tcping.exe [-n count] [-i interval_s] [-w timeout_s] [-4|-6] host [port]
//
// host may be an IPv6 address between brackets, as a URL writes it: the
// latency sweep hands over the host part of a server's URL.
#include <clocale>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "probe_net.h"

namespace {

using quorvex::probes::ConnectResult;
using quorvex::probes::Family;
using quorvex::probes::FormatFixed;

struct Options {
  int count = 4;
  double interval_s = 1;
  double timeout_s = 2;
  Family family = Family::kAny;
  std::string host;
  int port = 80;
};

constexpr char kUsage[] =
    "usage: tcping.exe [-n count] [-i interval_s] [-w timeout_s] [-4|-6] host [port]\n"
    "       tcping.exe --help | --version\n"
    "Times TCP connections to host:port and prints their average.\n"
    "  -n count       probes to send (default 4)\n"
    "  -i interval_s  seconds between probes, fractions and 0 allowed (default 1)\n"
    "  -w timeout_s   seconds to wait for each connection (default 2)\n"
    "  -4, -6         use IPv4 / IPv6 only\n"
    "  host           name or address; an IPv6 address may go between brackets ([::1])\n"
    "  port           TCP port (default 80)\n";

int Usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

// Fills options from argv; false on any unknown option, bad value, missing
// host or extra argument.
bool ParseArguments(const std::vector<std::string_view>& args, Options& options) {
  std::vector<std::string_view> positional;
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
      } else {
        auto seconds = quorvex::probes::ParseSeconds(args[i]);
        if (!seconds || (arg == "-w" && *seconds <= 0)) return false;
        (arg == "-i" ? options.interval_s : options.timeout_s) = *seconds;
      }
    } else if (arg.size() > 1 && arg[0] == '-') {
      return false;
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.empty() || positional.size() > 2) return false;
  options.host = std::string(positional[0]);
  if (positional.size() == 2) {
    auto port = quorvex::probes::ParsePort(positional[1]);
    if (!port) return false;
    options.port = *port;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  // Times are printed the way the user writes numbers, which is how the
  // job reads them back.
  std::setlocale(LC_ALL, "");
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  if (quorvex::probes::AnswerHelpOrVersion(args, "tcping.exe", kUsage)) return 0;
  Options options;
  if (!ParseArguments(args, options)) return Usage();
  auto endpoint = quorvex::probes::Resolve(options.host, options.port, options.family);
  if (!endpoint) {
    std::fprintf(stderr, "DNS: Could not find host - %s, aborting\n", options.host.c_str());
    return 1;
  }
  const std::string target = endpoint->Text(options.port);

  int successes = 0;
  double minimum = 0, maximum = 0, total = 0;
  for (int probe = 0; probe < options.count; ++probe) {
    if (probe > 0) quorvex::probes::SleepSeconds(options.interval_s);
    ConnectResult result = quorvex::probes::TimedConnect(*endpoint, options.timeout_s);
    const bool open = result.kind == ConnectResult::Kind::kOpen;
    std::printf("Probing %s/tcp - %s - time=%sms\n", target.c_str(),
                open ? "Port is open" : "No response", FormatFixed(result.elapsed_ms, 3).c_str());
    std::fflush(stdout);
    if (!open) continue;
    if (successes == 0 || result.elapsed_ms < minimum) minimum = result.elapsed_ms;
    if (successes == 0 || result.elapsed_ms > maximum) maximum = result.elapsed_ms;
    total += result.elapsed_ms;
    ++successes;
  }

  const int failures = options.count - successes;
  std::printf("\nPing statistics for %s\n", target.c_str());
  std::printf("     %d probes sent.\n", options.count);
  std::printf("     %d successful, %d failed.  (%s%% fail)\n", successes, failures,
              FormatFixed(100.0 * failures / options.count, 2).c_str());
  if (successes == 0) {
    std::printf("Was unable to connect, cannot provide trip statistics.\n");
    return 1;
  }
  std::printf("Approximate trip times in milli-seconds:\n");
  std::printf("     Minimum = %sms, Maximum = %sms, Average = %sms\n",
              FormatFixed(minimum, 3).c_str(), FormatFixed(maximum, 3).c_str(),
              FormatFixed(total / successes, 3).c_str());
  return 0;
}
