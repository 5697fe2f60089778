// Runs the built probe tools as real child processes against real loopback
// sockets and reads their output the way the latency sweep does.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"

extern char** environ;

namespace {

struct RunResult {
  int status = -1;  // exit status, or -1 when the child did not exit normally
  std::string out;
  std::string err;
};

std::string ReadAll(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs program with args, its output and errors going to files that are
// read once it has ended; `env` entries ("NAME=value") replace the
// inherited locale variables.
RunResult RunTool(const std::string& program, const std::vector<std::string>& args,
                  const std::vector<std::string>& env = {}) {
  std::vector<std::string> argv_text = {program};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<std::string> env_text;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    if (env.empty() || !(text.starts_with("LC_") || text.starts_with("LANG"))) {
      env_text.push_back(text);
    }
  }
  env_text.insert(env_text.end(), env.begin(), env.end());
  auto pointers = [](std::vector<std::string>& texts) {
    std::vector<char*> out;
    for (std::string& text : texts) out.push_back(text.data());
    out.push_back(nullptr);
    return out;
  };
  std::vector<char*> argv = pointers(argv_text), envp = pointers(env_text);

  char out_path[] = "/tmp/quorvex-probes-out-XXXXXX";
  char err_path[] = "/tmp/quorvex-probes-err-XXXXXX";
  const int out_fd = mkostemp(out_path, O_CLOEXEC), err_fd = mkostemp(err_path, O_CLOEXEC);
  EXPECT_GE(out_fd, 0);
  EXPECT_GE(err_fd, 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out_fd, 1);
  posix_spawn_file_actions_adddup2(&actions, err_fd, 2);
  pid_t pid = -1;
  RunResult result;
  if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) == 0) {
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
  }
  posix_spawn_file_actions_destroy(&actions);
  close(out_fd);
  close(err_fd);
  result.out = ReadAll(out_path);
  result.err = ReadAll(err_path);
  unlink(out_path);
  unlink(err_path);
  return result;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

// A number printed with either decimal separator.
double Number(std::string text) {
  std::replace(text.begin(), text.end(), ',', '.');
  return std::stod(text);
}

// The number after `marker` and before "ms", spaces around it allowed;
// NaN when there is none.
double Cut(const std::string& text, const std::string& marker) {
  std::smatch match;
  if (!std::regex_search(text, match, std::regex(marker + R"( *(\d+([.,]\d+)?) *ms)"))) {
    return std::nan("");
  }
  return Number(match[1]);
}

// The decimal separator as a regular expression.
std::string Escaped(const char* point) { return std::string(point) == "." ? R"(\.)" : point; }

// A TCP socket on a loopback port: listening (connections complete in the
// kernel's queue) or only bound, which makes the port refuse connections.
class LoopbackPort {
 public:
  explicit LoopbackPort(bool listening, int family = AF_INET, int backlog = 64)
      : fd_(socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_storage address{};
    socklen_t length = 0;
    if (family == AF_INET) {
      auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
      v4->sin_family = AF_INET;
      v4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      length = sizeof *v4;
    } else {
      auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
      v6->sin6_family = AF_INET6;
      v6->sin6_addr = in6addr_loopback;
      length = sizeof *v6;
    }
    ok_ = fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
          (!listening || listen(fd_, backlog) == 0) &&
          getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    port_ = ntohs(family == AF_INET ? reinterpret_cast<sockaddr_in*>(&address)->sin_port
                                    : reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
  }
  LoopbackPort(const LoopbackPort&) = delete;
  LoopbackPort& operator=(const LoopbackPort&) = delete;
  ~LoopbackPort() {
    if (fd_ >= 0) close(fd_);
  }
  bool ok() const { return ok_; }
  std::string port() const { return std::to_string(port_); }

 private:
  int fd_;
  bool ok_ = false;
  int port_ = 0;
};

// Checks a successful summary: minimum <= average <= maximum, each probe
// time inside [minimum, maximum], and the average the mean of the probes
// to within the printed rounding.
void ExpectConsistentSummary(const std::string& out, const std::vector<double>& probe_times,
                             double rounding) {
  const double minimum = Cut(out, "Minimum ="), maximum = Cut(out, "Maximum =");
  const double average = Cut(out, "Average =");
  ASSERT_FALSE(std::isnan(average)) << out;
  ASSERT_FALSE(probe_times.empty());
  EXPECT_LE(minimum, average);
  EXPECT_LE(average, maximum);
  double total = 0;
  for (double time : probe_times) {
    EXPECT_GE(time, minimum);
    EXPECT_LE(time, maximum);
    total += time;
  }
  EXPECT_NEAR(average, total / probe_times.size(), rounding) << out;
}

// tcping and psping against a listening port, with the option strings the
// job's settings hold by default and a few others. Times are written with
// the decimal separator of the user's locale.
struct TcpingCase {
  std::vector<std::string> options;
  std::vector<std::string> env;
  int probes;
  const char* point;
};

class TcpingOpenPort : public testing::TestWithParam<TcpingCase> {};

TEST_P(TcpingOpenPort, PrintsProbeLinesAndAReadableAverage) {
  LoopbackPort listener(true);
  ASSERT_TRUE(listener.ok());
  std::vector<std::string> args = GetParam().options;
  args.push_back("127.0.0.1");
  args.push_back(listener.port());
  RunResult run = RunTool(TCPING_EXE, args, GetParam().env);
  ASSERT_EQ(run.status, 0) << run.out << run.err;

  const std::string target = "127.0.0.1:" + listener.port();
  const std::string point = Escaped(GetParam().point);
  const std::regex probe_line("Probing " + target + R"(/tcp - Port is open - time=(\d+)" + point +
                              R"(\d{3})ms)");
  std::vector<std::string> lines = Lines(run.out);
  const int n = GetParam().probes;
  ASSERT_EQ(lines.size(), static_cast<size_t>(n + 6)) << run.out;
  std::vector<double> times;
  for (int i = 0; i < n; ++i) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(lines[i], match, probe_line)) << lines[i];
    times.push_back(Number(match[1]));
  }
  EXPECT_EQ(lines[n], "");
  EXPECT_EQ(lines[n + 1], "Ping statistics for " + target);
  EXPECT_EQ(lines[n + 2], "     " + std::to_string(n) + " probes sent.");
  EXPECT_EQ(lines[n + 3], "     " + std::to_string(n) + " successful, 0 failed.  (0" +
                              GetParam().point + "00% fail)");
  EXPECT_EQ(lines[n + 4], "Approximate trip times in milli-seconds:");
  const std::string time = R"(\d+)" + point + R"(\d{3}ms)";
  EXPECT_TRUE(std::regex_match(lines[n + 5], std::regex("     Minimum = " + time + ", Maximum = " +
                                                        time + ", Average = " + time)))
      << lines[n + 5];
  ExpectConsistentSummary(run.out, times, 0.0015);
}

INSTANTIATE_TEST_SUITE_P(
    Options, TcpingOpenPort,
    testing::Values(TcpingCase{{"-i", "0"}, {"LC_ALL=C"}, 4, "."},  // the job's default options
                    TcpingCase{{"-n", "2", "-i", "0.05", "-w", "1.5", "-4"}, {"LC_ALL=C"}, 2, "."},
                    TcpingCase{{"-n", "3", "-i", "0"}, {"LC_ALL=de_DE.UTF-8"}, 3, ","},
                    TcpingCase{{"-n", "1", "-i", "0.05"}, {"LANG=es_ES.UTF-8"}, 1, ","},
                    TcpingCase{{"-n", "1", "-i", "0"}, {"LC_ALL=es_MX.UTF-8"}, 1, "."}));

struct PspingCase {
  std::vector<std::string> options;
  int probes;
  int warmup;
  std::vector<std::string> env;
  const char* point;
};

class PspingOpenPort : public testing::TestWithParam<PspingCase> {};

TEST_P(PspingOpenPort, PrintsWarmupAndProbeLinesAndAReadableAverage) {
  LoopbackPort listener(true);
  ASSERT_TRUE(listener.ok());
  std::vector<std::string> args = GetParam().options;
  const std::string target = "127.0.0.1:" + listener.port();
  args.push_back(target);
  RunResult run = RunTool(PSPING_EXE, args, GetParam().env);
  ASSERT_EQ(run.status, 0) << run.out << run.err;

  const int n = GetParam().probes, w = GetParam().warmup;
  const std::string time = R"(\d+)" + Escaped(GetParam().point) + R"(\d{2}ms)";
  std::vector<std::string> lines = Lines(run.out);
  ASSERT_EQ(lines.size(), static_cast<size_t>(n + w + 6)) << run.out;
  EXPECT_EQ(lines[0], "TCP connect to " + target + ":");
  EXPECT_EQ(lines[1],
            std::to_string(n + w) + " iterations (warmup " + std::to_string(w) + ") ping test:");
  const std::regex warmup_line("Connecting to " + target + R"( \(warmup\): )" + time);
  const std::regex probe_line("Connecting to " + target + ": (" + time + ")");
  std::vector<double> times;
  for (int i = 0; i < w; ++i)
    EXPECT_TRUE(std::regex_match(lines[2 + i], warmup_line)) << lines[2 + i];
  for (int i = 0; i < n; ++i) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(lines[2 + w + i], match, probe_line)) << lines[2 + w + i];
    times.push_back(Number(match[1]));
  }
  EXPECT_EQ(lines[2 + n + w], "");
  EXPECT_EQ(lines[3 + n + w], "TCP connect statistics for " + target + ":");
  EXPECT_EQ(lines[4 + n + w], "  Sent = " + std::to_string(n) +
                                  ", Received = " + std::to_string(n) + ", Lost = 0 (0% loss),");
  EXPECT_TRUE(std::regex_match(lines[5 + n + w], std::regex("  Minimum = " + time + ", Maximum = " +
                                                            time + ", Average = " + time)))
      << lines[5 + n + w];
  ExpectConsistentSummary(run.out, times, 0.015);
}

INSTANTIATE_TEST_SUITE_P(
    Options, PspingOpenPort,
    testing::Values(PspingCase{{"-n", "4", "-i", "0", "-w", "0"}, 4, 0, {"LC_ALL=C"}, "."},
                    PspingCase{{"-i", "0"}, 5, 1, {"LC_ALL=es_ES.UTF-8"}, ","},
                    PspingCase{{"-n", "2", "-i", "0.05", "-w", "2"}, 2, 2, {}, "."},
                    PspingCase{
                        {"-n", "1", "-i", "0", "-w", "0"}, 1, 0, {"LC_ALL=de_DE.UTF-8"}, ","},
                    PspingCase{{"-n", "1", "-i", "0"}, 1, 1, {"LC_ALL=es_MX.UTF-8"}, "."}));

TEST(Tcping, IPv6LoopbackIsWrittenInBrackets) {
  LoopbackPort listener(true, AF_INET6);
  if (!listener.ok()) GTEST_SKIP() << "no IPv6 loopback here";
  RunResult run = RunTool(TCPING_EXE, {"-6", "-n", "1", "-i", "0", "::1", listener.port()});
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("Probing [::1]:" + listener.port() + "/tcp - Port is open"),
            std::string::npos)
      << run.out;
  EXPECT_FALSE(std::isnan(Cut(run.out, "Average =")));
}

TEST(Tcping, ClosedPortGivesFailureSummaryWithoutAverage) {
  LoopbackPort closed(false);
  ASSERT_TRUE(closed.ok());
  RunResult run = RunTool(TCPING_EXE, {"-n", "2", "-i", "0", "127.0.0.1", closed.port()});
  EXPECT_NE(run.status, 0);
  const std::string target = "127.0.0.1:" + closed.port();
  std::vector<std::string> lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 7u) << run.out;
  for (int i = 0; i < 2; ++i) {
    EXPECT_TRUE(std::regex_match(
        lines[i], std::regex("Probing " + target + R"(/tcp - No response - time=\d+\.\d{3}ms)")))
        << lines[i];
  }
  EXPECT_EQ(lines[3], "Ping statistics for " + target);
  EXPECT_EQ(lines[5], "     0 successful, 2 failed.  (100.00% fail)");
  EXPECT_EQ(lines[6], "Was unable to connect, cannot provide trip statistics.");
  EXPECT_EQ(run.out.find("Average ="), std::string::npos);
}

TEST(Tcping, FullListenQueueTimesOut) {
  // A listener with a zero backlog takes one connection; later handshakes
  // are dropped, so the next probe waits for its time-out.
  LoopbackPort listener(true, AF_INET, 0);
  ASSERT_TRUE(listener.ok());
  RunResult run =
      RunTool(TCPING_EXE, {"-n", "3", "-i", "0", "-w", "0.2", "127.0.0.1", listener.port()});
  EXPECT_NE(run.out.find("No response"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Port is open"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("1 successful, 2 failed.  (66.67% fail)"), std::string::npos) << run.out;
  EXPECT_EQ(Cut(run.out, "Average ="), Cut(run.out, "Minimum ="));
}

TEST(Psping, ClosedPortGivesFailureLinesWithoutAverage) {
  LoopbackPort closed(false);
  ASSERT_TRUE(closed.ok());
  const std::string target = "127.0.0.1:" + closed.port();
  RunResult run = RunTool(PSPING_EXE, {"-n", "2", "-i", "0", "-w", "1", target});
  EXPECT_NE(run.status, 0);
  std::vector<std::string> lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 8u) << run.out;
  EXPECT_EQ(lines[2], "Connecting to " + target +
                          " (warmup): The remote computer refused the network connection.");
  EXPECT_EQ(lines[3],
            "Connecting to " + target + ": The remote computer refused the network connection.");
  EXPECT_EQ(lines[7], "  Sent = 2, Received = 0, Lost = 2 (100% loss),");
  EXPECT_EQ(run.out.find("Average ="), std::string::npos);
}

// Command lines the tools must refuse: usage text on stderr, nothing on
// stdout, non-zero exit.
struct UsageCase {
  const char* tool;
  std::vector<std::string> args;
};

class UsageErrors : public testing::TestWithParam<UsageCase> {};

TEST_P(UsageErrors, PrintUsageAndFail) {
  RunResult run = RunTool(GetParam().tool, GetParam().args);
  EXPECT_NE(run.status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("usage: "), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(Tools, UsageErrors,
                         testing::Values(UsageCase{TCPING_EXE, {}},
                                         UsageCase{TCPING_EXE, {"-x", "127.0.0.1"}},
                                         UsageCase{TCPING_EXE, {"127.0.0.1", "-n"}},
                                         UsageCase{TCPING_EXE, {"-n", "0", "127.0.0.1"}},
                                         UsageCase{TCPING_EXE, {"-i", "1,5", "127.0.0.1"}},
                                         UsageCase{TCPING_EXE, {"-w", "0", "127.0.0.1"}},
                                         UsageCase{TCPING_EXE, {"127.0.0.1", "65536"}},
                                         UsageCase{TCPING_EXE, {"127.0.0.1", "80", "81"}},
                                         UsageCase{PSPING_EXE, {}},
                                         UsageCase{PSPING_EXE, {"-t", "127.0.0.1:80"}},
                                         UsageCase{PSPING_EXE, {"-w", "-1", "127.0.0.1:80"}},
                                         UsageCase{PSPING_EXE, {"127.0.0.1:80", "127.0.0.1:81"}},
                                         UsageCase{PING_STANDIN_EXE, {}},
                                         UsageCase{PING_STANDIN_EXE, {"-c", "1", "x"}}));

// Targets that parse as a command line but cannot be probed: a clear
// message, non-zero exit, and no "Average =" for the job to read.
struct BadTargetCase {
  const char* tool;
  std::vector<std::string> args;
  const char* message;
};

class BadTargets : public testing::TestWithParam<BadTargetCase> {};

TEST_P(BadTargets, FailCleanlyWithoutAverage) {
  RunResult run = RunTool(GetParam().tool, GetParam().args);
  EXPECT_NE(run.status, 0);
  EXPECT_NE((run.out + run.err).find(GetParam().message), std::string::npos) << run.out << run.err;
  EXPECT_EQ(run.out.find("Average"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Tools, BadTargets,
    testing::Values(
        BadTargetCase{
            TCPING_EXE, {"-i", "0", "no-such-host.invalid", "80"}, "no-such-host.invalid"},
        // A URL's own port joined to the port setting gives two port parts.
        BadTargetCase{TCPING_EXE, {"-i", "0", "127.0.0.1:8080", "80"}, "127.0.0.1:8080"},
        BadTargetCase{PSPING_EXE,
                      {"-n", "4", "-i", "0", "-w", "0", "127.0.0.1:8080:80"},
                      "more than one port"},
        BadTargetCase{PSPING_EXE, {"-n", "4", "-i", "0", "-w", "0", "127.0.0.1"}, "no port"},
        BadTargetCase{PSPING_EXE, {"-i", "0", "no-such-host.invalid:80"}, "no-such-host.invalid"}));

// The ping stand-in runs the system ping; these tests need it to work here.
class PingStandin : public testing::Test {
 protected:
  void SetUp() override {
    RunResult probe = RunTool("/usr/bin/ping", {"-c", "1", "-W", "2", "-n", "127.0.0.1"});
    if (probe.status != 0)
      GTEST_SKIP() << "the system ping cannot run here: " << probe.out << probe.err;
  }
};

TEST_F(PingStandin, SpanishLocaleGivesMediaSummary) {
  RunResult run = RunTool(PING_STANDIN_EXE, {"127.0.0.1"}, {"LANG=es_MX.UTF-8"});
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  std::vector<std::string> lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 11u) << run.out;
  EXPECT_EQ(lines[0], "Haciendo ping a 127.0.0.1 con 32 bytes de datos:");
  for (int i = 1; i <= 4; ++i) {
    EXPECT_TRUE(std::regex_match(
        lines[i],
        std::regex(R"(Respuesta desde 127\.0\.0\.1: bytes=32 tiempo(<1|=\d+)ms TTL=\d+)")))
        << lines[i];
  }
  EXPECT_EQ(lines[5], "");
  EXPECT_EQ(lines[6], "Estadisticas de ping para 127.0.0.1:");
  EXPECT_EQ(lines[7], "    Paquetes: enviados = 4, recibidos = 4, perdidos = 0");
  EXPECT_EQ(lines[9], "Tiempos aproximados de ida y vuelta en milisegundos:");
  EXPECT_TRUE(std::regex_match(lines[10],
                               std::regex(R"(    Minimo = \d+ms, Maximo = \d+ms, Media = \d+ms)")))
      << lines[10];
  EXPECT_EQ(Cut(run.out, "Media ="), 0);
}

// Which language the labels follow: LC_ALL, else LC_MESSAGES, else LANG.
struct LanguageCase {
  std::vector<std::string> env;
  const char* marker;
  const char* absent;
};

class PingLanguage : public PingStandin, public testing::WithParamInterface<LanguageCase> {};

TEST_P(PingLanguage, SummaryUsesTheUserLanguage) {
  RunResult run = RunTool(PING_STANDIN_EXE, {"-n", "1", "localhost"}, GetParam().env);
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  // Whole milliseconds, whatever the decimal separator of the locale.
  EXPECT_TRUE(std::regex_search(run.out, std::regex(GetParam().marker + std::string(" \\d+ms\n"))))
      << run.out;
  EXPECT_EQ(run.out.find(GetParam().absent), std::string::npos) << run.out;
  EXPECT_NE(run.out.find(" localhost [127.0.0.1] "), std::string::npos) << run.out;
}

INSTANTIATE_TEST_SUITE_P(
    Env, PingLanguage,
    testing::Values(LanguageCase{{"LANG=C"}, "Average =", "Media ="},
                    LanguageCase{{"LC_ALL=C", "LANG=es_MX.UTF-8"}, "Average =", "Media ="},
                    LanguageCase{{"LC_MESSAGES=es_ES.UTF-8", "LANG=C"}, "Media =", "Average ="},
                    LanguageCase{{"LC_ALL=es_ES.UTF-8"}, "Media =", "Average ="},
                    LanguageCase{{"LC_ALL=de_DE.UTF-8"}, "Average =", "Media ="}));

TEST_F(PingStandin, EnglishSummaryLines) {
  RunResult run = RunTool(PING_STANDIN_EXE, {"-n", "2", "127.0.0.1"}, {"LANG=C"});
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("Pinging 127.0.0.1 with 32 bytes of data:\n"), std::string::npos);
  EXPECT_NE(run.out.find("\nPing statistics for 127.0.0.1:\n"
                         "    Packets: Sent = 2, Received = 2, Lost = 0 (0% loss),\n"
                         "Approximate round trip times in milli-seconds:\n"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(Cut(run.out, "Average ="), 0);
}

TEST_F(PingStandin, UnknownHostEndsWithoutSummary) {
  for (const char* lang : {"LANG=C", "LANG=es_MX.UTF-8"}) {
    RunResult run = RunTool(PING_STANDIN_EXE, {"no-such-host.invalid"}, {lang});
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.out.find("no-such-host.invalid"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("Average"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("Media"), std::string::npos) << run.out;
  }
}

}  // namespace
