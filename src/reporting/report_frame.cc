#include "reporting/report_frame.h"

#include <limits>
#include <stdexcept>

#include "eventlog/log.h"
#include "reporting/modulo.h"
#include "util/string_util.h"

namespace quorvex {

ReportDocument::ReportDocument(std::string_view root_start_tag, std::string_view list_element)
    : root_start_tag_(root_start_tag), list_element_(list_element) {}

void ReportDocument::AddRow(std::initializer_list<std::string_view> pieces) {
  if (text_.empty()) {
    text_ += root_start_tag_;
    text_ += kCrLf;
    text_ += " <";
    text_ += list_element_;
    text_ += ">";
    text_ += kCrLf;
  }
  for (std::string_view piece : pieces) text_ += piece;
  text_ += kCrLf;
}

std::string ReportDocument::Finish() {
  text_ += "  </";
  text_ += list_element_;
  text_ += ">";
  text_ += kCrLf;
  text_ += " </Documento>";
  // Given away as it is: the capacity it grew into beyond its size was
  // never written, so it holds no memory, and trimming it would copy the
  // whole document once more.
  return std::move(text_);
}

RowSet ExecuteSql(RunState& run, std::string sql) {
  run.SqlText = std::move(sql);
  if (!run.DbConnection) throw DatabaseError("the database session is not open");
  return run.DbConnection->Execute(run.SqlText);
}

bool TableExists(RunState& run, std::string_view table) {
  std::string sql = "SELECT 'SI' AS Existe FROM sysobjects WHERE sysobjects.Name = '";
  sql += table;
  sql += "' AND type = 'U'";
  return !ExecuteSql(run, std::move(sql)).Eof();
}

std::optional<std::chrono::seconds> TimeForCall(const RunState& run, std::string_view procedure,
                                                std::chrono::milliseconds keep,
                                                std::string_view outcome) {
  const std::optional<std::chrono::seconds> time =
      run.Deadline.CallTime(HttpLimits().deadline, keep);
  if (!time) {
    const auto left = std::chrono::duration_cast<std::chrono::seconds>(run.Deadline.Left());
    LogWarning(EntryText(procedure, "The run's time is nearly up (" + std::to_string(left.count()) +
                                        " s left): the central web service is not called in "
                                        "this run; " +
                                        std::string(outcome)));
  }
  return time;
}

bool SendReport(RunState& run, const std::string& document, std::chrono::seconds call_time,
                CallReach* reach) {
  std::string answer_code;
  HttpLimits limits;
  limits.deadline = call_time;
  return Consumir_WebService(run, document, run.WebServiceUrl, "RecibeDocumento", answer_code,
                             ServiceNamespace, limits, reach);
}

void LogCallFailure(const RunState& run, std::string_view procedure, std::string_view text) {
  LogWarning(EntryText(procedure, text));
  LogWarning(EntryText("Consumir_WebService", run.LastErrorText));
}

ReportOutcome FailedCallOutcome(const RunState& run) {
  return run.LastErrorText.starts_with("EL WEBSERVICE HA RECHAZADO LA PETICION")
             ? ReportOutcome::kRejected
             : ReportOutcome::kFailed;
}

std::string FieldText(const FieldValue& value) { return value ? *value : std::string(); }

std::int32_t ToInt32(const FieldValue& value) {
  if (!value) throw std::invalid_argument("Type mismatch: NULL is not a whole number");
  std::string text = TrimSpaces(*value);
  std::size_t pos = 0;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) negative = text[pos++] == '-';
  if (pos == text.size()) throw std::invalid_argument("Type mismatch: '" + *value + "'");
  // Accumulated as a negative number so that the smallest 32-bit value fits.
  constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();
  constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
  std::int64_t magnitude = 0;
  bool overflow = false;
  for (; pos < text.size(); ++pos) {
    char c = text[pos];
    if (c < '0' || c > '9') throw std::invalid_argument("Type mismatch: '" + *value + "'");
    if (!overflow) {
      magnitude = magnitude * 10 + (c - '0');
      overflow = magnitude > kMax + 1;
    }
  }
  std::int64_t result = negative ? -magnitude : magnitude;
  if (overflow || result < kMin || result > kMax) {
    throw std::overflow_error("Overflow: " + *value + " does not fit a 32-bit signed whole number");
  }
  return static_cast<std::int32_t>(result);
}

}  // namespace quorvex
