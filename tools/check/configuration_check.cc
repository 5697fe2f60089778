#include "configuration_check.h"

#include <utility>

#include "job/principal.h"

namespace quorvex {

ConfigurationCheck::ConfigurationCheck(const std::string& program_folder, RunDeadline deadline,
                                       const std::string& user)
    : account_(JobAccount::Find(user)) {
  run_.ProgramFolder = program_folder;
  run_.Deadline = deadline;
}

const Findings& ConfigurationCheck::Run() {
  CheckSettings();
  FindTool();
  CheckFileSafety();
  CheckStateDirectory();
  CheckDatabase();
  CheckDatabaseWritable();
  CheckServers();
  CheckServerKey();
  CheckServiceAddressRows();
  CheckUsageValues();
  CheckService();
  CheckTool();
  CheckSchedule();
  CheckLastRun();
  run_.DbConnection.reset();
  // The last guard of the password: whatever a driver or a path put into a
  // finding, the password and its pieces never reach the output.
  findings_.Conceal(
      [this](std::string text) { return WithoutPassword(std::move(text), run_.Settings); });
  return findings_;
}

}  // namespace quorvex
