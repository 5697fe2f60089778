#include "job/run_records.h"

#include <exception>

#include "eventlog/log.h"
#include "platform/state_directory.h"

namespace quorvex {

void BeginRunSummary(RunState& run) {
  run.Summary.start = SummaryNow();
  if (run.StateFolder.empty()) return;
  const std::string path = StateFilePath(run.StateFolder, kRunSummaryFile);
  try {
    if (const auto previous = ReadStateFile(path, kRunSummaryMaxBytes)) {
      run.Summary.last_accepted_usage_report = LastAcceptedFrom(*previous, run.Summary.start);
    }
  } catch (const std::exception& e) {
    LogWarning(std::string("The summary of the previous run cannot be read: ") + e.what() +
               ". The time of the last accepted usage report starts again from this run's; "
               "remove the file if it is not the job's own, and this run writes it anew");
  }
}

void WriteRunRecords(RunState& run, int exit_status, const std::string& metrics_folder) {
  RunSummary& summary = run.Summary;
  summary.end = SummaryNow();
  summary.exit_status = exit_status;
  // Neither file is a record anything depends on, so neither waits for the
  // disk: each is renamed into place whole, and a crash at the wrong moment
  // leaves at worst the previous file or one the next run reads as no
  // summary (it then carries no time of an accepted report over). A sync
  // would cost an empty run several milliseconds on a journalling disk.
  const auto write = [](const std::string& path, const std::string& text, FileReaders readers,
                        const char* what, const char* fix) {
    try {
      WriteStateFile(path, text, readers, Durability::kCheap);
    } catch (const std::exception& e) {
      LogWarning(std::string("The run's ") + what + " cannot be written: " + e.what() + ". " + fix);
    }
  };
  if (!run.StateFolder.empty()) {
    write(StateFilePath(run.StateFolder, kRunSummaryFile), summary.Json(), FileReaders::kOwners,
          "summary", "The job's account must be able to create files in its state directory");
  }
  if (!metrics_folder.empty()) {
    write(StateFilePath(metrics_folder, kMetricsFile), summary.Metrics(), FileReaders::kEveryone,
          "metrics",
          "QUORVEX_METRICS_DIR must name an existing folder in which the job's account may create "
          "files, or be removed from the job's environment");
  }
}

}  // namespace quorvex
