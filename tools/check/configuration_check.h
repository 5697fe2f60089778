// quorvex-check: a read-only test of an installation, run before its first
// scheduled run.
//
// It looks at what a run of the job would use, with the job's own code
// (the settings loader, the database connect, the tool lookup and the file
// safety rule) and the job's own bounds (the run's deadline, the login,
// statement, connect and tool limits), in six sections: the settings file,
// the safety of the files the job trusts, the database, the central
// service, the latency tool and the schedule. Every check runs even after
// an earlier one failed; a check that needs what failed says so instead.
//
// It changes nothing: the database is opened read-only and given only
// SELECT statements (no SET, no UPDATE), the central service gets one GET
// and never a report, no event entry is written, no file is created or
// changed (the embedded database included: no journal, no write-ahead log),
// and the password, or any piece of it, is never shown.
#pragma once

#include <string>

#include "findings.h"
#include "job/connection_settings.h"
#include "job/run_state.h"

namespace quorvex {

class ConfigurationCheck {
 public:
  // Checks the installation whose program folder is given, within deadline.
  ConfigurationCheck(const std::string& program_folder, RunDeadline deadline);
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

  void CheckSettings();    // settings_checks.cc
  void CheckFileSafety();  // settings_checks.cc
  void CheckDatabase();    // database_checks.cc
  void CheckService();     // service_checks.cc
  void FindTool();         // tool_checks.cc
  void CheckTool();        // tool_checks.cc
  void CheckSchedule();    // schedule_check-posix.cc, schedule_check-win32.cc

  // The unsent usage rows the usage document cannot carry
  // (usage_values_check.cc).
  void CheckUsageValues();

  RunState run_;
  SettingsReport report_;
  bool settings_read_ = false;  // the settings file could be read (or is absent)
  Tool tool_;
  Findings findings_;
};

}  // namespace quorvex
