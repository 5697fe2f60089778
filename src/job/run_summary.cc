#include "job/run_summary.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <iterator>

#include "util/utf8.h"

namespace quorvex {
namespace {

constexpr ReportOutcome kOutcomes[] = {
    ReportOutcome::kNotRun,   ReportOutcome::kNoTable,  ReportOutcome::kNothingToSend,
    ReportOutcome::kHeldBack, ReportOutcome::kAccepted, ReportOutcome::kRejected,
    ReportOutcome::kFailed,
};

// Numbers in the C locale's form whatever the user's regional settings:
// the shortest text that reads back as the same double.
std::string Number(double value) {
  char text[32];
  const auto end = std::to_chars(std::begin(text), std::end(text), value).ptr;
  return std::string(text, end);
}

std::string Seconds(SummaryTime time) { return std::to_string(time.time_since_epoch().count()); }

void Key(std::string& out, std::string_view key) {
  out += '"';
  out += key;
  out += "\": ";
}

void JsonText(std::string& out, std::string_view key, std::string_view value, bool null) {
  Key(out, key);
  if (null) {
    out += "null";
  } else {
    AppendJsonString(out, value);
  }
}

// A label value of the exposition format: UTF-8, with \, " and line feed
// escaped. Bytes that start no well-formed UTF-8 sequence become '?'.
void AppendLabelValue(std::string& out, std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    const Utf8Char c = DecodeUtf8(text, at);
    if (c.length == 0) {
      out += '?';
      ++at;
      continue;
    }
    if (c.code == '\\') {
      out += "\\\\";
    } else if (c.code == '"') {
      out += "\\\"";
    } else if (c.code == '\n') {
      out += "\\n";
    } else {
      out.append(text.substr(at, c.length));
    }
    at += c.length;
  }
}

class MetricsText {
 public:
  void Gauge(std::string_view name, std::string_view help) {
    out_ += "# HELP ";
    out_ += name;
    out_ += ' ';
    out_ += help;
    out_ += "\n# TYPE ";
    out_ += name;
    out_ += " gauge\n";
  }
  void Sample(std::string_view name, const std::string& value, std::string_view label = {},
              std::string_view label_value = {}) {
    out_ += name;
    if (!label.empty()) {
      out_ += '{';
      out_ += label;
      out_ += "=\"";
      AppendLabelValue(out_, label_value);
      out_ += "\"}";
    }
    out_ += ' ';
    out_ += value;
    out_ += '\n';
  }
  void One(std::string_view name, std::string_view help, const std::string& value) {
    Gauge(name, help);
    Sample(name, value);
  }
  // One sample per outcome, 1 for the report's and 0 for the others, so
  // that a rule can test for any of them.
  void Outcome(std::string_view name, std::string_view help, ReportOutcome outcome) {
    Gauge(name, help);
    for (ReportOutcome each : kOutcomes) {
      Sample(name, each == outcome ? "1" : "0", "outcome", OutcomeName(each));
    }
  }
  std::string Take() { return std::move(out_); }

 private:
  std::string out_;
};

int Digits(std::string_view text, std::size_t at, std::size_t count) {
  int value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

}  // namespace

std::string_view OutcomeName(ReportOutcome outcome) {
  switch (outcome) {
    case ReportOutcome::kNotRun:
      return "not_run";
    case ReportOutcome::kNoTable:
      return "no_table";
    case ReportOutcome::kNothingToSend:
      return "nothing_to_send";
    case ReportOutcome::kHeldBack:
      return "held_back";
    case ReportOutcome::kAccepted:
      return "accepted";
    case ReportOutcome::kRejected:
      return "rejected";
    case ReportOutcome::kFailed:
      return "failed";
  }
  return "failed";
}

void SweepSummary::Record(const std::string& st_id, double latency) {
  ++(latency < 0 ? unreachable : measured);
  latency_ms[st_id] = latency;
}

void RunSummary::UsageAccepted() {
  usage.outcome = ReportOutcome::kAccepted;
  last_accepted_usage_report = SummaryNow();
}

SummaryTime SummaryNow() {
  return std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
}

std::string FormatSummaryTime(SummaryTime time) {
  const auto day = std::chrono::floor<std::chrono::days>(time);
  const std::chrono::year_month_day date(day);
  const std::chrono::hh_mm_ss clock(time - day);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                static_cast<int>(clock.seconds().count()));
  return text;
}

std::optional<SummaryTime> ParseSummaryTime(std::string_view text) {
  if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
      text[16] != ':' || text[19] != 'Z') {
    return std::nullopt;
  }
  const int year = Digits(text, 0, 4), month = Digits(text, 5, 2), day = Digits(text, 8, 2);
  const int hour = Digits(text, 11, 2), minute = Digits(text, 14, 2), second = Digits(text, 17, 2);
  if (year < 2000 || month < 0 || day < 0 || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
      second < 0 || second > 59) {
    return std::nullopt;
  }
  const std::chrono::year_month_day date{std::chrono::year(year),
                                         std::chrono::month(static_cast<unsigned>(month)),
                                         std::chrono::day(static_cast<unsigned>(day))};
  if (!date.ok()) return std::nullopt;
  return std::chrono::sys_days(date) + std::chrono::hours(hour) + std::chrono::minutes(minute) +
         std::chrono::seconds(second);
}

std::optional<std::string> SummaryValue(std::string_view json, std::string_view key) {
  // The writer escapes every '"' inside a text, so '"key": ' with its
  // quotes bare only ever stands for the key itself.
  const std::string marker = "\"" + std::string(key) + "\": ";
  const std::size_t found = json.find(marker);
  if (found == std::string_view::npos) return std::nullopt;
  std::size_t at = found + marker.size();
  if (at >= json.size()) return std::nullopt;
  if (json[at] != '"') {
    const std::size_t end = json.find_first_of(",}\n", at);
    const std::string_view bare = json.substr(at, end == std::string_view::npos ? 0 : end - at);
    if (bare.empty() || bare == "null") return std::nullopt;
    return std::string(bare);
  }
  std::string value;
  for (++at; at < json.size() && json[at] != '"'; ++at) {
    if (json[at] != '\\') {
      value += json[at];
      continue;
    }
    if (++at >= json.size()) return std::nullopt;
    switch (json[at]) {
      case 'n':
        value += '\n';
        break;
      case 'r':
        value += '\r';
        break;
      case 't':
        value += '\t';
        break;
      case 'u':
        // Only control characters are written this way; they show as '?'.
        at += 4;
        value += '?';
        break;
      default:
        value += json[at];
    }
  }
  if (at >= json.size()) return std::nullopt;  // the text never ends
  return value;
}

std::optional<SummaryTime> LastAcceptedFrom(std::string_view previous_json, SummaryTime not_after) {
  const auto text = SummaryValue(previous_json, "last_accepted_usage_report");
  if (!text) return std::nullopt;
  const auto time = ParseSummaryTime(*text);
  if (!time || *time > not_after) return std::nullopt;
  return time;
}

std::string RunSummary::Json() const {
  std::string out = "{\n  \"version\": 1,\n  ";
  JsonText(out, "start", FormatSummaryTime(start), false);
  out += ",\n  ";
  JsonText(out, "end", FormatSummaryTime(end), false);
  out += ",\n  \"duration_seconds\": " + Number(duration_seconds);
  out += ",\n  \"exit_status\": " + std::to_string(exit_status) + ",\n  ";
  JsonText(out, "reason", reason, reason.empty());
  out += ",\n  \"sweep\": {\"selected\": " + std::to_string(sweep.selected) +
         ", \"measured\": " + std::to_string(sweep.measured) +
         ", \"unreachable\": " + std::to_string(sweep.unreachable) +
         ", \"out_of_time\": " + std::to_string(sweep.out_of_time) +
         ", \"not_handled\": " + std::to_string(sweep.NotHandled()) + "},\n  \"usage_report\": {";
  JsonText(out, "outcome", OutcomeName(usage.outcome), false);
  out += ", ";
  JsonText(out, "cutoff", usage.cutoff, usage.cutoff.empty());
  out += ", \"records_counted\": " + std::to_string(usage.records_counted) +
         ", \"rows_sent\": " + std::to_string(usage.rows_sent) +
         ", \"accesos_sent\": " + std::to_string(usage.accesos_sent) + "},\n  \"roster\": {";
  JsonText(out, "outcome", OutcomeName(roster.outcome), false);
  out += ", \"operators_sent\": " + std::to_string(roster.operators_sent) + "},\n  ";
  JsonText(out, "last_accepted_usage_report",
           last_accepted_usage_report ? FormatSummaryTime(*last_accepted_usage_report) : "",
           !last_accepted_usage_report);
  out += "\n}\n";
  return out;
}

std::string RunSummary::Metrics() const {
  MetricsText m;
  m.One("quorvex_last_run_start_time_seconds", "Start of the last run, in seconds since the epoch.",
        Seconds(start));
  m.One("quorvex_last_run_end_time_seconds", "End of the last run, in seconds since the epoch.",
        Seconds(end));
  m.One("quorvex_last_run_duration_seconds", "How long the last run took.",
        Number(duration_seconds));
  m.One("quorvex_last_run_exit_status", "Exit status of the last run (0: it reached its end).",
        std::to_string(exit_status));
  m.One("quorvex_last_accepted_usage_report_time_seconds",
        "When the central web service last accepted a usage report, in seconds since the epoch "
        "(0: never, as far as the summaries go back).",
        last_accepted_usage_report ? Seconds(*last_accepted_usage_report) : "0");
  m.Outcome("quorvex_usage_report_outcome", "Outcome of the last run's usage report (1: this one).",
            usage.outcome);
  m.One("quorvex_usage_report_records", "Unsent usage records the last run counted.",
        std::to_string(usage.records_counted));
  m.One("quorvex_usage_report_rows", "Rows of the last usage report sent to the service.",
        std::to_string(usage.rows_sent));
  m.One("quorvex_usage_report_accesos", "Total Accesos of the last usage report sent.",
        std::to_string(usage.accesos_sent));
  m.Outcome("quorvex_roster_outcome", "Outcome of the last run's operator roster report.",
            roster.outcome);
  m.One("quorvex_roster_operators", "Operators in the last roster sent.",
        std::to_string(roster.operators_sent));
  m.One("quorvex_servers_selected", "Active stamping servers the last sweep selected.",
        std::to_string(sweep.selected));
  m.Gauge("quorvex_servers", "Stamping servers of the last sweep by outcome.");
  m.Sample("quorvex_servers", std::to_string(sweep.measured), "outcome", "measured");
  m.Sample("quorvex_servers", std::to_string(sweep.unreachable), "outcome", "unreachable");
  m.Sample("quorvex_servers", std::to_string(sweep.out_of_time), "outcome", "out_of_time");
  m.Sample("quorvex_servers", std::to_string(sweep.NotHandled()), "outcome", "not_handled");
  m.Gauge("quorvex_server_up", "1 when the last sweep measured the server, 0 when it stored -1.");
  for (const auto& [id, latency] : sweep.latency_ms) {
    m.Sample("quorvex_server_up", latency < 0 ? "0" : "1", "st_id", id);
  }
  m.Gauge("quorvex_server_latency_seconds", "Latency the last sweep measured for the server.");
  for (const auto& [id, latency] : sweep.latency_ms) {
    if (latency >= 0 && std::isfinite(latency))
      m.Sample("quorvex_server_latency_seconds", Number(latency / 1000), "st_id", id);
  }
  return m.Take();
}

}  // namespace quorvex
