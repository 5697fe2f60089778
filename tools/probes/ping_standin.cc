// ping: the Windows default ping for the job's program folder.
//
// The job runs "ping <host>" with no options and waits for the output to
// end. The system ping on Linux would run until stopped and prints another
// summary, so this program sends 4 echo requests through the system ping
// (found by absolute path, never through PATH, which would find this file
// again), and prints what a Spanish Windows ping prints ("Media = Xms", the
// marker the sweep reads), whatever the user's language: a job started by
// systemd usually runs under the C locale, and the sweep reads no other
// language. It always ends: the system ping is bounded by count and reply
// wait, and this program kills it after a hard limit.
//
//   ping [-n count] [-w timeout_ms] [-l size] [-4|-6] host
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/unique_fd.h"
#include "probe_net.h"

extern char** environ;

namespace {

struct Options {
  int count = 4;
  int timeout_ms = 2000;
  int size = 32;
  const char* family = nullptr;  // "-4", "-6" or none
  std::string host;
};

// The lines of a Spanish Windows ping.
struct Labels {
  const char* pinging;        // "Haciendo ping a %s con %d bytes de datos:"
  const char* pinging_named;  // "Haciendo ping a %s [%s] con %d bytes de datos:"
  const char* reply;          // "Respuesta desde %s: bytes=%d tiempo%s TTL=%d"
  const char* unreachable;    // "Respuesta desde %s: Host de destino inaccesible."
  const char* timed_out;
  const char* statistics;  // "Estadisticas de ping para %s:"
  const char* packets;     // sent, received, lost, loss %
  const char* round_trip;
  const char* summary;  // minimum, maximum, average
  const char* not_found;
  const char* general_failure;
};

constexpr Labels kSpanish = {
    "Haciendo ping a %s con %d bytes de datos:\n",
    "Haciendo ping a %s [%s] con %d bytes de datos:\n",
    "Respuesta desde %s: bytes=%d tiempo%s TTL=%d\n",
    "Respuesta desde %s: Host de destino inaccesible.\n",
    "Tiempo de espera agotado para esta solicitud.\n",
    "\nEstadisticas de ping para %s:\n",
    "    Paquetes: enviados = %d, recibidos = %d, perdidos = %d\n    (%d%% perdidos),\n",
    "Tiempos aproximados de ida y vuelta en milisegundos:\n",
    "    Minimo = %lldms, Maximo = %lldms, Media = %lldms\n",
    "La solicitud de ping no pudo encontrar el host %s. Compruebe el nombre y vuelva a "
    "intentarlo.\n",
    "PING: error en la transmision. Error general.\n",
};

constexpr char kUsage[] =
    "usage: ping [-n count] [-w timeout_ms] [-l size] [-4|-6] host\n"
    "       ping --help | --version\n"
    "Sends echo requests through the system ping and prints the summary of a\n"
    "Spanish Windows ping (\"Media = Xms\").\n"
    "  -n count       echo requests to send (default 4)\n"
    "  -w timeout_ms  milliseconds to wait for each reply (default 2000)\n"
    "  -l size        bytes of data per request (default 32)\n"
    "  -4, -6         use IPv4 / IPv6 only\n";

int Usage() {
  std::fputs(kUsage, stderr);
  return 1;
}

bool ParseArguments(const std::vector<std::string_view>& args, Options& options) {
  for (size_t i = 0; i < args.size(); ++i) {
    std::string_view arg = args[i];
    if (arg == "-4" || arg == "-6") {
      options.family = arg == "-4" ? "-4" : "-6";
    } else if (arg == "-n" || arg == "-w" || arg == "-l") {
      if (++i == args.size()) return false;
      auto value = quorvex::probes::ParseCount(args[i]);
      if (!value || (arg == "-l" && *value > 65500)) return false;
      (arg == "-n" ? options.count : arg == "-w" ? options.timeout_ms : options.size) = *value;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return false;
    } else if (options.host.empty()) {
      options.host = std::string(arg);
    } else {
      return false;
    }
  }
  return !options.host.empty();
}

// The system ping by absolute path, skipping this very program.
std::optional<std::string> FindSystemPing() {
  char self[PATH_MAX] = {};
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string self_path = length > 0 ? std::string(self, length) : std::string();
  for (const char* candidate : {"/usr/bin/ping", "/bin/ping", "/usr/sbin/ping", "/sbin/ping"}) {
    if (access(candidate, X_OK) != 0) continue;
    char resolved[PATH_MAX] = {};
    if (realpath(candidate, resolved) != nullptr && self_path == resolved) continue;
    return std::string(candidate);
  }
  return std::nullopt;
}

// The system ping while it runs; killed and reaped if still there at scope end.
class Child {
 public:
  explicit Child(pid_t pid) : pid_(pid) {}
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      Wait();
    }
  }
  void Kill() {
    if (pid_ > 0) kill(pid_, SIGKILL);
  }
  void Wait() {
    while (pid_ > 0 && waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
  }

 private:
  pid_t pid_;
};

class SpawnActions {
 public:
  SpawnActions() { posix_spawn_file_actions_init(&actions_); }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
  ~SpawnActions() { posix_spawn_file_actions_destroy(&actions_); }
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

// Reads the system ping's lines and prints the Windows lines for them.
class Translator {
 public:
  Translator(const Options& options, const Labels& labels) : options_(options), labels_(labels) {}

  void Line(std::string_view line) {
    if (line.starts_with("PING ")) {
      Header(line);
    } else if (header_seen_ && line.find(" bytes from ") != std::string_view::npos) {
      Reply(line);
    } else if (header_seen_ && line.starts_with("From ")) {
      Unreachable(line);
    } else {
      other_text_ += line;
      other_text_ += '\n';
    }
  }

  // Prints the rest and returns the exit status.
  int Finish() {
    if (!header_seen_) {
      const bool unresolved = other_text_.find("not known") != std::string::npos ||
                              other_text_.find("name resolution") != std::string::npos ||
                              other_text_.find("No address") != std::string::npos;
      if (unresolved) {
        std::printf(labels_.not_found, options_.host.c_str());
      } else {
        std::fputs(labels_.general_failure, stdout);
      }
      return 1;
    }
    FillTimeouts(options_.count + 1);
    const int lost = options_.count - received_;
    std::printf(labels_.statistics, ip_.c_str());
    std::printf(labels_.packets, options_.count, received_, lost, lost * 100 / options_.count);
    if (received_ == 0) return 1;
    std::fputs(labels_.round_trip, stdout);
    std::printf(labels_.summary, std::llround(minimum_), std::llround(maximum_),
                std::llround(total_ / received_));
    return 0;
  }

 private:
  void Header(std::string_view line) {
    const size_t open = line.find('(');
    const size_t close = line.find(')', open);
    if (header_seen_ || open == std::string_view::npos || close == std::string_view::npos) return;
    header_seen_ = true;
    ip_ = std::string(line.substr(open + 1, close - open - 1));
    if (ip_ == options_.host) {
      std::printf(labels_.pinging, ip_.c_str(), options_.size);
    } else {
      std::printf(labels_.pinging_named, options_.host.c_str(), ip_.c_str(), options_.size);
    }
  }

  // "64 bytes from 127.0.0.1: icmp_seq=1 ttl=64 time=0.052 ms"
  void Reply(std::string_view line) {
    const int sequence = static_cast<int>(Field(line, "icmp_seq=").value_or(0));
    const std::optional<double> time_ms = Field(line, "time=");
    if (sequence <= next_sequence_ - 1 || sequence > options_.count || !time_ms) return;
    FillTimeouts(sequence);
    next_sequence_ = sequence + 1;
    const long long rounded = std::llround(*time_ms);
    const std::string time_text = rounded < 1 ? "<1ms" : "=" + std::to_string(rounded) + "ms";
    std::printf(labels_.reply, ip_.c_str(), options_.size, time_text.c_str(),
                static_cast<int>(Field(line, "ttl=").value_or(0)));
    if (received_ == 0 || *time_ms < minimum_) minimum_ = *time_ms;
    if (received_ == 0 || *time_ms > maximum_) maximum_ = *time_ms;
    total_ += *time_ms;
    ++received_;
  }

  // "From 10.0.0.1 icmp_seq=1 Destination Host Unreachable"
  void Unreachable(std::string_view line) {
    const int sequence = static_cast<int>(Field(line, "icmp_seq=").value_or(0));
    if (sequence <= next_sequence_ - 1 || sequence > options_.count) return;
    FillTimeouts(sequence);
    next_sequence_ = sequence + 1;
    std::printf(labels_.unreachable, ip_.c_str());
  }

  // One "timed out" line for each request before `sequence` without an answer.
  void FillTimeouts(int sequence) {
    for (; next_sequence_ < sequence; ++next_sequence_) std::fputs(labels_.timed_out, stdout);
  }

  // The number after key ("time=0.052" gives 0.052).
  static std::optional<double> Field(std::string_view line, std::string_view key) {
    const size_t at = line.find(key);
    if (at == std::string_view::npos) return std::nullopt;
    std::string_view rest = line.substr(at + key.size());
    rest = rest.substr(0, rest.find(' '));
    return quorvex::probes::ParseSeconds(rest);
  }

  const Options& options_;
  const Labels& labels_;
  bool header_seen_ = false;
  std::string ip_;
  std::string other_text_;
  int next_sequence_ = 1;
  int received_ = 0;
  double minimum_ = 0, maximum_ = 0, total_ = 0;
};

// The environment for the system ping: ours, with its messages forced to
// the C locale so the lines read above do not change with the language.
std::vector<std::string> ChildEnvironment() {
  std::vector<std::string> result;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string_view text(*entry);
    if (text.starts_with("LC_") || text.starts_with("LANG=") || text.starts_with("LANGUAGE=")) {
      continue;
    }
    result.emplace_back(text);
  }
  result.emplace_back("LC_ALL=C");
  return result;
}

std::int64_t MonotonicMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string_view> arguments(argv + 1, argv + argc);
  if (quorvex::probes::AnswerHelpOrVersion(arguments, "ping", kUsage)) return 0;
  Options options;
  if (!ParseArguments(arguments, options)) return Usage();
  const Labels& labels = kSpanish;
  std::optional<std::string> system_ping = FindSystemPing();
  if (!system_ping) {
    std::fputs(labels.general_failure, stdout);
    return 1;
  }

  const int wait_s = (options.timeout_ms + 999) / 1000;
  std::vector<std::string> args = {
      *system_ping, "-c", std::to_string(options.count), "-W", std::to_string(wait_s),
      "-n",         "-s", std::to_string(options.size)};
  if (options.family != nullptr) args.emplace_back(options.family);
  args.emplace_back("--");
  args.push_back(options.host);
  std::vector<char*> child_argv;
  for (std::string& arg : args) child_argv.push_back(arg.data());
  child_argv.push_back(nullptr);
  std::vector<std::string> env = ChildEnvironment();
  std::vector<char*> child_env;
  for (std::string& entry : env) child_env.push_back(entry.data());
  child_env.push_back(nullptr);

  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) {
    std::fputs(labels.general_failure, stdout);
    return 1;
  }
  quorvex::UniqueFd read_end(ends[0]);
  quorvex::UniqueFd write_end(ends[1]);
  SpawnActions actions;
  posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(actions.get(), write_end.get(), 1);
  posix_spawn_file_actions_adddup2(actions.get(), write_end.get(), 2);
  pid_t pid = -1;
  if (posix_spawn(&pid, system_ping->c_str(), actions.get(), nullptr, child_argv.data(),
                  child_env.data()) != 0) {
    std::fputs(labels.general_failure, stdout);
    return 1;
  }
  Child child(pid);
  write_end.Reset();

  // One second per request plus the last reply's wait, and a margin for
  // name resolution; past this the system ping is stopped.
  const std::int64_t deadline =
      MonotonicMs() + (static_cast<std::int64_t>(options.count) + wait_s + 5) * 1000;
  Translator translator(options, labels);
  std::string pending;
  char buffer[4096];
  for (;;) {
    const std::int64_t left = deadline - MonotonicMs();
    if (left <= 0) {
      child.Kill();
      break;
    }
    pollfd waiting{read_end.get(), POLLIN, 0};
    const int ready = poll(&waiting, 1, static_cast<int>(left));
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0) continue;
    const ssize_t got = read(read_end.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    pending.append(buffer, static_cast<size_t>(got));
    for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
      translator.Line(std::string_view(pending).substr(0, end));
      std::fflush(stdout);
    }
  }
  if (!pending.empty()) translator.Line(pending);
  read_end.Reset();
  child.Wait();
  const int status = translator.Finish();
  std::fflush(stdout);
  return status;
}
