// The summary the last run left in the state directory (last-run.json):
// how it ended and what it did, and whether the central web service has
// accepted a usage report in the last day while usage waits to be sent.
#include <chrono>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>

#include "configuration_check.h"
#include "job/run_summary.h"
#include "platform/state_directory.h"
#include "platform/utf8_path.h"

namespace quorvex {
namespace {

constexpr auto kAcceptedWithin = std::chrono::hours(24);

std::string Value(const std::string& json, const char* key) {
  return SummaryValue(json, key).value_or("none");
}

}  // namespace

void ConfigurationCheck::CheckLastRun() {
  std::string path;
  std::optional<std::string> json;
  try {
    const std::string folder = StateDirectoryPath();
    std::error_code error;
    if (!std::filesystem::is_directory(PathFromUtf8(folder), error)) {
      // The state directory's own line says what is wrong with it.
      findings_.Ok("last run", "no summary: " + folder + " is no folder the job could write to");
      return;
    }
    path = StateFilePath(folder, kRunSummaryFile);
    json = ReadStateFile(path, kRunSummaryMaxBytes);
  } catch (const std::exception& e) {
    findings_.Warn("last run", std::string("its summary cannot be read: ") + e.what(),
                   "Run quorvex-check as root or as the job's account, which may read the state "
                   "directory.");
    return;
  }
  if (!json) {
    findings_.Ok("last run", "no run has left a summary in " + path + " yet");
    return;
  }
  const std::string status = Value(*json, "exit_status");
  const std::string what =
      "ended " + Value(*json, "end") + " with exit status " + status +
      "; sweep: " + Value(*json, "selected") + " servers selected, " + Value(*json, "measured") +
      " measured, " + Value(*json, "unreachable") + " unreachable, " + Value(*json, "out_of_time") +
      " out of time; usage report: " + Value(*json, "outcome") + ", " +
      Value(*json, "records_counted") + " records counted, " + Value(*json, "rows_sent") +
      " rows and " + Value(*json, "accesos_sent") + " Accesos sent, cut-off " +
      Value(*json, "cutoff") + "; operators sent: " + Value(*json, "operators_sent");
  if (status == "0") {
    findings_.Ok("last run", what);
  } else {
    findings_.Warn("last run", what + "; reason: " + Value(*json, "reason"),
                   "See that run's event entries, and run the job again once it is mended.");
  }

  if (!unsent_records_ || *unsent_records_ == 0) return;
  const auto last = LastAcceptedFrom(*json, SummaryNow());
  if (last && SummaryNow() - *last <= kAcceptedWithin) return;
  findings_.Warn(
      "usage report",
      std::to_string(*unsent_records_) + " usage records wait to be sent, and the central web " +
          "service " +
          (last ? "last accepted a usage report at " + FormatSummaryTime(*last)
                : std::string("has accepted no usage report as far as the run summaries go back")),
      "See the job's warning entries of Get_Transaccion_Uso and Consumir_WebService for why, and "
      "that the job still runs on schedule.");
}

}  // namespace quorvex
