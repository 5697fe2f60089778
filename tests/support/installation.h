// A throw-away program folder for whole-program tests: the built programs
// copied in, as installed; a real SQLite database made from
// sql/sqlite/schema.sql; event entries written to a file through
// QUORVEX_EVENT_LOG and read back exactly. The Windows programs (taken
// from the build named by QUORVEX_WINDOWS_BUILD) run under wine from a
// folder whose name is not plain ASCII, in the build folder rather than
// in /tmp.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "database/database.h"

namespace quorvex::testing {

struct LoggedEvent {
  std::string source;
  int type = 0;
  int id = 0;
  std::string message;
};

struct ProcessResult {
  int exit_code = -1;  // -1 when killed by a signal
  std::string output;  // standard output and standard error
};

enum class Programs { kLinux, kWindows };

class Installation {
 public:
  // with_database: create database.sqlite3 from the schema script.
  explicit Installation(bool with_database = true, Programs programs = Programs::kLinux);
  ~Installation();
  Installation(const Installation&) = delete;
  Installation& operator=(const Installation&) = delete;

  const std::filesystem::path& Folder() const { return folder_; }
  std::filesystem::path DatabasePath() const { return folder_ / "database.sqlite3"; }
  std::filesystem::path EventLogPath() const { return folder_ / "events.jsonl"; }
  // QUORVEX_STATE_DIR of the job, beside the program folder.
  std::filesystem::path StateFolder() const { return root_ / "state"; }

  // Writes QuorvexServer.ini, readable by its owner only; SqliteSettings is the [CONEXION] section
  // of this installation's database (the default), plus extra lines.
  void WriteSettings(const std::string& content);
  static std::string SqliteSettings(const std::string& extra_lines = "");

  // A session on the database, for arranging and checking rows; CloseDb
  // ends it (the next Db() opens another).
  Connection& Db();
  void CloseDb() { db_.reset(); }
  void Exec(const std::string& sql) { Db().Execute(sql); }
  // The value of one column of the first row of sql, "NULL" for NULL.
  std::string Scalar(const std::string& sql);

  // Runs the installed QuorvexServer with the event log and the state
  // directory redirected (extra_env may name others). The session of Db()
  // is closed first: the Windows job's file locks do not reach a Linux
  // SQLite, so the two never share the file at once.
  // wrapper: a program and its arguments that run the job, given as the
  // last argument (strace, for one); none runs it directly.
  ProcessResult RunJob(const std::map<std::string, std::string>& extra_env = {},
                       const std::vector<std::string>& wrapper = {});
  // Starts the job without waiting; returns its process id.
  int StartJob(const std::map<std::string, std::string>& extra_env = {},
               const std::vector<std::string>& wrapper = {});
  static ProcessResult Wait(int pid);

  // Entries written so far, in order.
  std::vector<LoggedEvent> Events() const;

 private:
  std::filesystem::path root_;  // removed with the installation
  std::filesystem::path folder_;
  Programs programs_;
  std::unique_ptr<Connection> db_;
};

// The entries of an event-log file written through QUORVEX_EVENT_LOG, in
// order; none when the file does not exist.
std::vector<LoggedEvent> ReadEventLog(const std::filesystem::path& path);

// A path as Windows programs under wine see it (drive Z: is the root).
std::string WinePath(const std::filesystem::path& path);

// Runs program with args (no shell) and collects its output.
ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& extra_env = {});

}  // namespace quorvex::testing
