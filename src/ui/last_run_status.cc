#include "ui/last_run_status.h"

#include <exception>

#include "job/run_summary.h"
#include "platform/state_directory.h"

namespace quorvex {

std::string LastRunStatus() {
  try {
    const std::string state_folder = StateDirectoryPath();
    const auto json =
        ReadStateFile(StateFilePath(state_folder, kRunSummaryFile), kRunSummaryMaxBytes);
    if (!json) return "Last run: none recorded in " + state_folder;
    const auto value = [&json](const char* key) { return SummaryValue(*json, key).value_or("?"); };
    return "Last run " + value("end") + ": exit " + value("exit_status") + ", usage " +
           value("outcome") + ", " + value("measured") + "/" + value("selected") +
           " servers measured";
  } catch (const std::exception& e) {
    return std::string("Last run: unknown (") + e.what() + ")";
  }
}

}  // namespace quorvex
