#include "support/installation.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

extern char** environ;

namespace quorvex::testing {
namespace fs = std::filesystem;
namespace {

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Reads one JSON string starting at text[i] == '"'; leaves i after it. The
// writer escapes quotes, backslashes and control characters only.
std::string ReadJsonString(const std::string& text, std::size_t& i) {
  std::string out;
  for (++i; i < text.size() && text[i] != '"'; ++i) {
    if (text[i] != '\\') {
      out += text[i];
    } else if (const char e = text[++i]; e == 'u') {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 4), nullptr, 16));
      i += 4;
    } else {
      out += e == 'n' ? '\n' : e == 'r' ? '\r' : e == 't' ? '\t' : e;
    }
  }
  ++i;
  return out;
}

LoggedEvent ParseEvent(const std::string& line) {
  std::map<std::string, std::string> fields;
  for (std::size_t i = 0; (i = line.find('"', i)) != std::string::npos;) {
    const std::string key = ReadJsonString(line, i);
    i = line.find(':', i) + 1;
    fields[key] =
        line[i] == '"' ? ReadJsonString(line, i) : line.substr(i, line.find_first_of(",}", i) - i);
  }
  return {fields["source"], std::atoi(fields["type"].c_str()), std::atoi(fields["id"].c_str()),
          fields["message"]};
}

std::vector<std::string> Environment(const std::map<std::string, std::string>& extra) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    if (extra.count(name) == 0) env.push_back(entry);
  }
  for (const auto& [name, value] : extra) env.push_back(name + "=" + value);
  return env;
}

int Spawn(const std::string& program, const std::vector<std::string>& args,
          const std::map<std::string, std::string>& extra_env, int output_fd) {
  std::vector<std::string> argv_text = {program};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env_text = Environment(extra_env);
  std::vector<char*> envp;
  for (std::string& e : env_text) envp.push_back(e.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (output_fd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, output_fd, 1);
    posix_spawn_file_actions_adddup2(&actions, output_fd, 2);
  }
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start " + program);
  return pid;
}

}  // namespace

Installation::Installation(bool with_database, Programs programs) : programs_(programs) {
  const std::string unique = std::to_string(::getpid()) + "-" + std::to_string(std::rand());
  // Wine knows no sticky bit: to the Windows job, a folder in /tmp is one
  // whose entries everyone may rename, and it refuses to run from there.
  const fs::path base = programs == Programs::kWindows
                            ? fs::path(QUORVEX_BINARY_DIR) / "wine-installs"
                            : fs::temp_directory_path();
  fs::create_directories(base);
  root_ = folder_ = base / ("quorvex-install-" + unique);
  fs::path build = QUORVEX_BINARY_DIR;
  std::vector<std::string> files = {"QuorvexServer", "quorvex-check", "tcping.exe",
                                    "psping.exe",    "ping",          "quorvex-password"};
  if (programs == Programs::kWindows) {
    const char* windows_build = std::getenv("QUORVEX_WINDOWS_BUILD");
    if (windows_build == nullptr) throw std::runtime_error("QUORVEX_WINDOWS_BUILD is not set");
    build = windows_build;
    folder_ /= "Facturación";
    files = {"QuorvexServer.exe", "quorvex-check.exe", "tcping.exe", "psping.exe",
             "quorvex-password.exe"};
  } else {
    folder_ /= "program";
  }
  // Whatever the umask and the build's modes, nothing here is writable by
  // others: the job refuses a tool that someone else could have replaced.
  ::umask(022);
  fs::create_directories(folder_);
  for (const std::string& program : files) {
    if (!fs::exists(build / program)) continue;
    fs::copy_file(build / program, folder_ / program);
    fs::permissions(folder_ / program, fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
  }
  if (with_database) {
    // SQLite makes the file on open; the job itself never does.
    const fs::path schema = fs::path(QUORVEX_SOURCE_DIR) / "sql/sqlite/schema.sql";
    const ProcessResult r = RunProgram(
        "/bin/sh", {"-c", "sqlite3 \"$0\" < \"$1\"", DatabasePath().string(), schema.string()});
    if (r.exit_code != 0) throw std::runtime_error("cannot make the test database: " + r.output);
  }
  WriteSettings(SqliteSettings());
}

Installation::~Installation() {
  db_.reset();
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

void Installation::WriteSettings(const std::string& content) {
  std::ofstream(folder_ / "QuorvexServer.ini", std::ios::binary) << content;
  // As installed: ordinary users may not read it (the job says so each run).
  fs::permissions(folder_ / "QuorvexServer.ini", fs::perms::group_read | fs::perms::others_read,
                  fs::perm_options::remove);
}

std::string Installation::SqliteSettings(const std::string& extra_lines) {
  return "[CONEXION]\nSERVERDB=sqlite:database.sqlite3\nDATABASE=EMPRESAS\n" + extra_lines;
}

Connection& Installation::Db() {
  if (!db_) db_ = OpenConnection("Data Source=sqlite:" + DatabasePath().string(), folder_.string());
  return *db_;
}

std::string Installation::Scalar(const std::string& sql) {
  RowSet rows = Db().Execute(sql);
  if (rows.Eof()) return "NO ROW";
  const FieldValue& value = rows.Field(rows.Columns().at(0));
  return value ? *value : "NULL";
}

int Installation::StartJob(const std::map<std::string, std::string>& extra_env,
                           const std::vector<std::string>& wrapper) {
  db_.reset();
  std::map<std::string, std::string> env = extra_env;
  const bool windows = programs_ == Programs::kWindows;
  env.emplace("QUORVEX_EVENT_LOG", windows ? WinePath(EventLogPath()) : EventLogPath().string());
  env.emplace("QUORVEX_STATE_DIR", windows ? WinePath(StateFolder()) : StateFolder().string());
  const int out =
      ::open((folder_ / "job-output.txt").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  std::vector<std::string> args(wrapper.begin() + !wrapper.empty(), wrapper.end());
  args.push_back(windows ? (folder_ / "QuorvexServer.exe").string()
                         : (folder_ / "QuorvexServer").string());
  const std::string program = !wrapper.empty() ? wrapper[0] : windows ? "/usr/bin/wine" : "";
  const int pid =
      program.empty() ? Spawn(args.back(), {}, env, out) : Spawn(program, args, env, out);
  ::close(out);
  return pid;
}

ProcessResult Installation::Wait(int pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  ProcessResult result;
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

ProcessResult Installation::RunJob(const std::map<std::string, std::string>& extra_env,
                                   const std::vector<std::string>& wrapper) {
  fs::remove(folder_ / "job-output.txt");
  ProcessResult result = Wait(StartJob(extra_env, wrapper));
  result.output = ReadFile(folder_ / "job-output.txt");
  return result;
}

std::vector<LoggedEvent> Installation::Events() const { return ReadEventLog(EventLogPath()); }

std::vector<LoggedEvent> ReadEventLog(const std::filesystem::path& path) {
  std::vector<LoggedEvent> events;
  std::ifstream lines(path, std::ios::binary);
  for (std::string line; std::getline(lines, line);)
    if (!line.empty()) events.push_back(ParseEvent(line));
  return events;
}

std::string WinePath(const fs::path& path) {
  std::string text = "Z:" + fs::absolute(path).string();
  for (char& c : text) c = c == '/' ? '\\' : c;
  return text;
}

ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& extra_env) {
  char path[] = "/tmp/quorvex-run-XXXXXX";
  const int out = ::mkstemp(path);
  const int pid = Spawn(program, args, extra_env, out);
  ::close(out);
  ProcessResult result = Installation::Wait(pid);
  result.output = ReadFile(path);
  ::unlink(path);
  return result;
}

}  // namespace quorvex::testing
