// What the two usage reports (transaction usage and operator roster) share:
// the report document frame, the check that a table exists, the delivery of
// a document to the central web service, and the small conversions of
// database values into document text.
//
// A report document is one text, built line by line:
//   <root start tag> CRLF
//    <List> CRLF
//     one line per row, each ending in CRLF
//     </List> CRLF            (two blanks)
//    </Documento>            (one blank, nothing after it)
// It exists only once a row has been added; a report without rows has no
// document. Values go into the text exactly as the database gives them,
// without escaping.
#pragma once

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "database/database.h"
#include "job/run_state.h"
#include "reporting/modulo.h"

namespace quorvex {

inline constexpr char kCrLf[] = "\r\n";

class ReportDocument {
 public:
  // root_start_tag is written as given (it ends in a blank after '>');
  // list_element names the list that holds the rows.
  ReportDocument(std::string_view root_start_tag, std::string_view list_element);

  // Appends one row line made of pieces written one after the other, then
  // CRLF. The first row begins the document with the root start and list
  // start lines.
  void AddRow(std::initializer_list<std::string_view> pieces);

  // Makes room for a document of that many bytes, so that a large one
  // grows without copies.
  void Reserve(std::size_t bytes) { text_.reserve(bytes); }

  // True while no row has been added (no document exists).
  bool Empty() const { return text_.empty(); }

  // Closes the list and the root and gives the whole text away.
  // REQUIRES: !Empty(); nothing is added afterwards.
  std::string Finish();

 private:
  std::string root_start_tag_;
  std::string list_element_;
  std::string text_;
};

// True when the database lists a user table of that name. Runs "SELECT 'SI'
// AS Existe FROM sysobjects WHERE sysobjects.Name = '<table>' AND type =
// 'U'" through run.SqlText and run.DbConnection. Throws DatabaseError.
bool TableExists(RunState& run, std::string_view table);

// Puts sql into run.SqlText and runs it on run.DbConnection. Throws
// DatabaseError.
RowSet ExecuteSql(RunState& run, std::string sql);

// The time a report's call may take within the run's deadline, keeping
// `keep` for what must follow it: min(300 s, the time left minus keep).
// When too little is left, a warning entry of procedure says so, ending in
// `outcome` (what becomes of the report), and the result is std::nullopt:
// the call is not started.
std::optional<std::chrono::seconds> TimeForCall(const RunState& run, std::string_view procedure,
                                                std::chrono::milliseconds keep,
                                                std::string_view outcome);

// Delivers a report document to run.WebServiceUrl with the method
// "RecibeDocumento" and ServiceNamespace, the whole exchange bound by
// call_time; true when the service accepted it. The answer code is not
// looked at; run.LastErrorText says why a call failed, and reach (when
// given) how far it got. Never throws.
bool SendReport(RunState& run, const std::string& document, std::chrono::seconds call_time,
                CallReach* reach = nullptr);

// The warning entries of a failed call: the report's own (its text as
// written by procedure) and right after it one of Consumir_WebService whose
// text is run.LastErrorText, which says why.
void LogCallFailure(const RunState& run, std::string_view procedure, std::string_view text);

// What became of a report whose call SendReport judged a failure:
// kRejected when the service answered RECHAZADO, kFailed for every other
// failure (from run.LastErrorText).
ReportOutcome FailedCallOutcome(const RunState& run);

// A field as document text: NULL gives the empty text.
std::string FieldText(const FieldValue& value);

// A count read from the database as a 32-bit signed whole number. Throws
// std::overflow_error ("Overflow: ...") for a value outside the range and
// std::invalid_argument ("Type mismatch: ...") for NULL or a text that is
// not a whole number in decimal digits (an optional sign, blanks around).
std::int32_t ToInt32(const FieldValue& value);

}  // namespace quorvex
