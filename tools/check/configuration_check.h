// quorvex-check: a read-only test of an installation, run before its first
// scheduled run.
//
// It looks at what a run of the job would use, with the job's own code
// (the settings loader, the database connect, the tool lookup and the file
// safety rule) and the job's own bounds (the run's deadline, the login,
// statement, connect and tool limits), in seven sections: the settings file,
// the safety of the files the job trusts, the database, the central
// service, the latency tool, the schedule and the summary of the last run. Every check runs even
// after an earlier one failed; a check that needs what failed says so instead.
//
// It changes nothing: the database is opened read-only and given only
// SELECT statements (no SET, no UPDATE), the central service gets one GET
// and never a report, no event entry is written, no file is created or
// changed (the embedded database included: no journal, no write-ahead log),
// and the password, or any piece of it, is never shown.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "findings.h"
#include "job/connection_settings.h"
#include "job/run_state.h"
#include "job_account.h"

namespace quorvex {

class ConfigurationCheck {
 public:
  // Checks the installation whose program folder is given, within deadline;
  // access is judged for the account user names (job_account.h; empty: the
  // default). Throws std::runtime_error when there is no such account.
  ConfigurationCheck(const std::string& program_folder, RunDeadline deadline,
                     const std::string& user = {});
  ConfigurationCheck(const ConfigurationCheck&) = delete;
  ConfigurationCheck& operator=(const ConfigurationCheck&) = delete;

  // Runs every check, in order, and returns what they found.
  const Findings& Run();

 private:
  // The tool the latency sweep would start for the PING-MODE in effect.
  struct Tool {
    std::string name;     // "tcping.exe", "psping.exe" or "the system ping"
    std::string path;     // where the sweep would find it; empty when nowhere
    std::string missing;  // why it is not there, when path is empty
    bool psping = false;
    bool system_ping = false;
    bool replaceable = false;  // others could have replaced it: never started
  };

  void CheckSettings();            // settings_checks.cc
  void CheckFileSafety();          // settings_checks.cc
  void CheckDatabase();            // database_checks.cc
  void CheckService();             // service_checks.cc
  void FindTool();                 // tool_checks.cc
  void CheckTool();                // tool_checks.cc
  void CheckSchedule();            // schedule_check-posix.cc, schedule_check-win32.cc
  void CheckStateDirectory();      // state_checks.cc
  void CheckLastRun();             // last_run_check.cc
  int ServiceAddressRows();        // table_checks.cc: -1 when it cannot be counted
  void CheckServiceAddressRows();  // table_checks.cc
  void CheckDatabaseWritable();    // table_checks.cc
  void CheckServers();             // table_checks.cc
  void CheckServerKey();           // table_checks.cc

  // The unsent usage rows the usage document cannot carry
  // (usage_values_check.cc).
  void CheckUsageValues();

  RunState run_;
  std::unique_ptr<JobAccount> account_;
  BackendChoice backend_;  // set once the database backend is known
  SettingsReport report_;
  bool settings_read_ = false;  // the settings file could be read (or is absent)
  Tool tool_;
  // Unsent usage records up to the database's clock, when they could be
  // counted.
  std::optional<long long> unsent_records_;
  Findings findings_;
};

}  // namespace quorvex
