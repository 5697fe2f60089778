// The summary of one run: what it did, in one place an administrator can
// read, and the same as metrics for Prometheus' node_exporter (or
// windows_exporter) textfile collector.
//
// The run owns one RunSummary (RunState::Summary); each job fills in its
// own part as it goes, and Main writes both files once the run's exit
// status is known (WriteRunRecords). Nothing here holds a secret: the
// texts are counts, outcomes, times, identifiers of servers, and the reason
// of an early end, from which the password is taken out before it is kept.
//
// last-run.json, format version 1 (one JSON object; times are UTC in the
// form "2026-12-07T03:28:21Z"; absent values are null):
//   version, start, end, duration_seconds, exit_status, reason,
//   sweep {selected, measured, unreachable, out_of_time, not_handled},
//   usage_report {outcome, cutoff, records_counted, rows_sent, accesos_sent},
//   roster {outcome, operators_sent},
//   last_accepted_usage_report
// The time of the last accepted usage report is carried from one summary
// to the next; it is the only thing ever read back from an earlier file.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace quorvex {

using SummaryTime = std::chrono::sys_seconds;

// What became of a report in this run.
enum class ReportOutcome {
  kNotRun,         // the run ended before the report
  kNoTable,        // a table it reads is missing
  kNothingToSend,  // no row to report
  kHeldBack,       // not sent on purpose: too little time left, or something an
                   // operator must settle first (an earlier call's record, a
                   // value no document can carry)
  kAccepted,
  kRejected,  // the service answered RECHAZADO
  kFailed,    // the call or the report failed otherwise
};

// "not_run", "no_table", "nothing_to_send", "held_back", "accepted",
// "rejected", "failed".
std::string_view OutcomeName(ReportOutcome outcome);

struct SweepSummary {
  std::int64_t selected = 0;
  std::int64_t measured = 0;     // a latency was stored
  std::int64_t unreachable = 0;  // -1 was stored
  std::int64_t out_of_time = 0;  // left unmeasured when the sweep's time ran out
  // Latency in milliseconds of each server handled, by St_ID (-1: none).
  // Two rows with one St_ID share their row's UPDATE, so the last one wins
  // here too; the map never holds more entries than servers selected.
  std::map<std::string, double> latency_ms;

  // Servers selected but neither measured, unreachable nor out of time: the
  // sweep stopped at a failure before them.
  std::int64_t NotHandled() const { return selected - measured - unreachable - out_of_time; }
  void Record(const std::string& st_id, double latency);
};

struct UsageReportSummary {
  ReportOutcome outcome = ReportOutcome::kNotRun;
  std::string cutoff;                // empty until taken
  std::int64_t records_counted = 0;  // the Accesos of every counted row
  std::int64_t rows_counted = 0;
  std::int64_t rows_sent = 0;  // in a document that went to the service
  std::int64_t accesos_sent = 0;
};

struct RosterSummary {
  ReportOutcome outcome = ReportOutcome::kNotRun;
  std::int64_t operators_sent = 0;
};

struct RunSummary {
  SummaryTime start{};
  SummaryTime end{};
  double duration_seconds = 0;
  int exit_status = 0;
  // Why the run ended before its jobs (exit status 70 or 78); empty
  // otherwise. Kept without the password.
  std::string reason;
  SweepSummary sweep;
  UsageReportSummary usage;
  RosterSummary roster;
  std::optional<SummaryTime> last_accepted_usage_report;

  // Called by the usage report when the service accepted it.
  void UsageAccepted();

  // last-run.json's text.
  std::string Json() const;
  // quorvex.prom's text: the Prometheus text exposition format, every
  // metric a gauge named quorvex_* in base units.
  std::string Metrics() const;
};

// Now, to the second.
SummaryTime SummaryNow();

// "YYYY-MM-DDThh:mm:ssZ".
std::string FormatSummaryTime(SummaryTime time);
// The time of a text in exactly that form; std::nullopt for anything else
// (another length, an impossible date, a year before 2000 or after 9999).
std::optional<SummaryTime> ParseSummaryTime(std::string_view text);

// The time of the last accepted usage report held by an earlier
// last-run.json. The text is not trusted: anything but a well-formed time
// no later than `not_after` under that key gives std::nullopt.
std::optional<SummaryTime> LastAcceptedFrom(std::string_view previous_json, SummaryTime not_after);

// The value of the first key of that name in a last-run.json text (a
// string or a number, as written there), for readers such as
// quorvex-check; std::nullopt when the key is absent or null. Nested keys
// are found too ("outcome" is the usage report's, which comes first).
std::optional<std::string> SummaryValue(std::string_view json, std::string_view key);

inline constexpr char kRunSummaryFile[] = "last-run.json";
inline constexpr char kMetricsFile[] = "quorvex.prom";
// No summary this job writes comes near this; a larger file is not read.
inline constexpr std::size_t kRunSummaryMaxBytes = 64 * 1024;

}  // namespace quorvex
