// frmMain::Get_Transaccion_Uso: the transaction usage report.
//
// Counts the unreported usage records up to a cut-off of the database
// server's clock, sends the counts as a TRANSACCION-USO report document and,
// once the service has accepted it, marks exactly the counted records. The
// counting and the marking statements share their condition and the one
// cut-off text, so a record written after the cut-off (also one written
// while the call is in progress) is neither counted nor marked; and the
// cut-off is the last second the database's clock has left behind, so a
// record written in the second the report starts is neither counted nor
// marked in this run, never marked without being counted.
//
// The service bills from these counts, so the report keeps the record of
// its call in the state directory (reporting/marking_record.h), one per
// database: a report the service may hold is sent again as it was before
// anything new is counted, and one it accepted is marked exactly once, by
// this run or by the next one. A record is believed only when the records
// under its cut-off still give its totals; otherwise, and for a record that
// cannot be read or trusted, the report holds back and says what to
// compare. Where no record can be kept, the report goes on without one and
// says so.
//
// Every way the report ends is written by one of the functions under "The
// outcomes" below.
#include <algorithm>
#include <chrono>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

#include "database/database.h"
#include "eventlog/log.h"
#include "platform/state_directory.h"
#include "reporting/marking_record.h"
#include "reporting/modulo.h"
#include "reporting/report_frame.h"
#include "reporting/usage_values.h"
#include "ui/frm_main.h"
#include "util/string_util.h"

namespace quorvex {

namespace {

constexpr char kProcedure[] = "Get_Transaccion_Uso";
constexpr char kRootStartTag[] =
    "<Documento Tipo='TRANSACCION-USO' Usuario='' Password='' Empresa='' > ";

std::string CountingSql(const std::string& cutoff) {
  return std::string(" SELECT Transaccion, ") + "     Server_Id, " + "     COUNT(Id) AS Accesos " +
         " FROM Transaccion_Uso " + " WHERE Fecha <= '" + cutoff + "' AND " +
         "     Enviado = 'NO' " + " GROUP BY Transaccion, " + "     Server_Id " +
         " ORDER BY Accesos DESC ";
}

std::string MarkingSql(const std::string& cutoff) {
  return std::string("UPDATE Transaccion_Uso ") + " SET Enviado = 'SI' " + " WHERE Fecha <= '" +
         cutoff + "' AND " + "     Enviado = 'NO' ";
}

// What an operator compares before removing a record the report does not
// believe.
std::string CompareAdvice(const std::string& cutoff, const std::string& file) {
  return "Compare the usage the central web service billed for cut-off " + cutoff +
         " with the unsent records up to it (SELECT Transaccion, Server_Id, COUNT(Id) FROM "
         "Transaccion_Uso WHERE Fecha <= '" +
         cutoff +
         "' AND Enviado = 'NO' GROUP BY Transaccion, Server_Id), set Enviado = 'SI' on the "
         "records it billed, then remove " +
         file + "; until then this run and the next count and send no usage";
}

std::string Totals(const MarkingRecord& counts) {
  return std::to_string(counts.accesos) + " records in " + std::to_string(counts.rows) + " rows";
}

// ---- The outcomes: every entry that ends the report is written here. ----

// Nothing is counted, sent or marked: something must be settled by hand
// first (what, and how, is in `text`).
void HeldBack(const std::string& text) { LogError(EntryText(kProcedure, text)); }

void TableMissing() { LogWarning(EntryText(kProcedure, "TABLA Transaccion_Uso NO EXISTE!")); }

void NothingToReport(const std::string& cutoff) {
  LogInfo(EntryText(kProcedure, "NO HAY TRANSACCIONES PARA ESTADISTICO EN " + cutoff));
}

// The service accepted the report and its records are marked.
void Reported(const MarkingRecord& counts, long long marked) {
  LogInfo(EntryText(kProcedure, "The central web service accepted the usage report with cut-off " +
                                    counts.cutoff + " (" + Totals(counts) +
                                    "); the marking statement marked " + std::to_string(marked) +
                                    " records as sent"));
}

// The service accepted, the marking failed.
void AcceptedNotMarked(const MarkingRecord& counts, const std::string& why, bool recorded,
                       const std::string& file) {
  HeldBack("The central web service accepted the usage report with cut-off " + counts.cutoff +
           " (" + Totals(counts) + "), but marking its records failed: " + why +
           (recorded ? ". Its record stays in " + file +
                           ": the next run marks them before it counts anything"
                     : ". No record of the call could be kept: the next run sends their counts "
                       "again"));
}

// The call did not end in an acceptance.
void CallFailed(const RunState& run, const std::string& cutoff) {
  LogCallFailure(run, kProcedure, "NO ES POSIBLE CONSUMIR EL WEBSERVICE" + cutoff);
}

// ---- The record of the call. ----

// A failure to keep the record is a warning entry, after which the report
// goes on as it would without a record.
class CallRecord {
 public:
  CallRecord(const RunState& run, std::string identity)
      : identity_(std::move(identity)), file_(run.StateFolder, identity_) {
    if (run.StateFolder.empty()) unusable_ = "the run has no state directory";
  }

  const std::string& Identity() const { return identity_; }
  const MarkingRecordFile& File() const { return file_; }
  bool Usable() const { return unusable_.empty(); }
  // True while a record of this database is on the disk.
  bool Kept() const { return kept_; }
  void Found() { kept_ = true; }

  void Sending(const MarkingRecord& counts) {
    if (!Usable()) return Lost(unusable_);
    try {
      file_.WriteSending(counts);
      kept_ = true;
    } catch (const std::exception& e) {
      Lost(e.what());
    }
  }
  // Left SENDING, the record makes the next run send the same report again.
  void Accepted() {
    if (!kept_) return;
    try {
      file_.MarkAccepted();
    } catch (const std::exception& e) {
      Lost(e.what());
    }
  }
  void Remove() {
    if (!kept_) return;
    try {
      file_.Remove();
      kept_ = false;
    } catch (const std::exception& e) {
      LogWarning(EntryText(kProcedure, std::string(e.what()) + ": the next run finds it again"));
    }
  }
  void RemoveLeftover() const {
    try {
      file_.RemoveLeftover();
    } catch (const std::exception& e) {
      LogWarning(EntryText(kProcedure, e.what()));
    }
  }

 private:
  void Lost(const std::string& why) {
    LogWarning(EntryText(kProcedure,
                         "The record of the call to the central web service cannot be "
                         "kept (" +
                             why +
                             "): should this run end before the counted records are "
                             "marked, the next run sends their counts again"));
  }

  std::string identity_;
  MarkingRecordFile file_;
  std::string unusable_;
  bool kept_ = false;
};

// ---- Counting, marking, sending. ----

struct Usage {
  MarkingRecord counts;
  std::string document;
};

std::string_view Text(const FieldValue& value) {
  return value ? std::string_view(*value) : std::string_view();
}

std::string_view WithoutSpaces(std::string_view text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// The size limit of the usage document, checked before the counting
// statement: grouping by a value of tens of megabytes costs the database
// many times the value, so a value that alone would pass the limit is
// caught by its length first. Empty when none does, or when the database
// cannot tell (the document's own size is checked as it is built).
std::string OversizedValue(RunState& run, const std::string& cutoff) {
  const char* length =
      run.DbConnection && run.DbConnection->BackendName() == "sqlserver" ? "LEN" : "LENGTH";
  long long longest = 0;
  try {
    RowSet rows =
        ExecuteSql(run, std::string("SELECT MAX(") + length + "(Transaccion)) AS T, MAX(" + length +
                            "(Server_Id)) AS S FROM Transaccion_Uso WHERE Fecha <= '" + cutoff +
                            "' AND Enviado = 'NO'");
    for (const char* column : {"T", "S"}) {
      const FieldValue& value = rows.Eof() ? FieldValue() : rows.Field(column);
      if (value) longest = std::max<long long>(longest, std::stoll(*value));
    }
  } catch (const std::exception&) {
    return "";
  }
  if (static_cast<unsigned long long>(longest) + cutoff.size() + 256 <= kMaxUsageDocumentBytes) {
    return "";
  }
  return "An unsent usage record up to cut-off " + cutoff + " holds a value of " +
         std::to_string(longest) + " characters in Transaccion or Server_Id, more than the " +
         std::to_string(kMaxUsageDocumentBytes) +
         " bytes a usage document may have, so no usage is sent. Find it with SELECT Id, "
         "Server_Id FROM Transaccion_Uso WHERE Enviado = 'NO' AND " +
         length +
         "(Transaccion) > 1000000 and correct it; the next run sends the records with "
         "the others.";
}

// Counts the unsent records up to cutoff into usage and builds their
// document. Returns the text of the entry that holds the report back (a
// value the document cannot carry, a document over its size limit), empty
// when the document can go; no records leave usage.counts.rows at 0.
// The rows are walked twice, first for the document's size, so that the
// document is built once, in place, beside the rows and nothing else.
std::string CountUsage(RunState& run, const std::string& cutoff, Usage& usage) {
  usage.counts.cutoff = cutoff;
  if (std::string why = OversizedValue(run, cutoff); !why.empty()) return why;
  RowSet rows = ExecuteSql(run, CountingSql(cutoff));
  std::size_t size = sizeof kRootStartTag + 64;
  std::size_t bad_rows = 0, largest_size = 0;
  std::string bad, largest;
  for (; !rows.Eof(); rows.MoveNext()) {
    const std::string_view nombre = Text(rows.Field("Transaccion"));
    const std::string_view sid = WithoutSpaces(Text(rows.Field("Server_Id")));
    usage.counts.accesos += ToInt32(rows.Field("Accesos"));
    ++usage.counts.rows;
    const std::size_t row_size = nombre.size() + sid.size() + cutoff.size() + 64;
    size += row_size;
    const std::string row = "Transaccion " + ShownValue(nombre) + ", Server_Id " + ShownValue(sid);
    if (row_size > largest_size) largest_size = row_size, largest = row;
    for (const auto& [column, value] : {std::pair{"Transaccion", nombre}, {"Server_Id", sid}}) {
      const std::string problem = UsageValueProblem(value);
      if (problem.empty()) continue;
      if (++bad_rows <= 10) bad += "\r\n- " + row + ": its " + column + " " + problem;
      break;
    }
  }
  if (bad_rows > 0) {
    if (bad_rows > 10) bad += "\r\n- and " + std::to_string(bad_rows - 10) + " more";
    return std::to_string(bad_rows) + " of the " + std::to_string(usage.counts.rows) +
           " rows of the usage report with cut-off " + cutoff +
           " cannot go into a document the central web service accepts, so no usage is sent:" +
           bad + "\r\n" + UsageValueAdvice() + ".";
  }
  if (size > kMaxUsageDocumentBytes) {
    return "The usage report with cut-off " + cutoff + " would be a document of about " +
           std::to_string(size) + " bytes, more than the " +
           std::to_string(kMaxUsageDocumentBytes) +
           " bytes a usage document may have, so no usage is sent. Its largest row: " + largest +
           ". Correct the oversized values in table Transaccion_Uso; the next run sends them "
           "with the others.";
  }
  if (usage.counts.rows == 0) return "";
  ReportDocument document(kRootStartTag, "Transacciones");
  document.Reserve(size);
  for (rows.MoveFirst(); !rows.Eof(); rows.MoveNext()) {
    const std::string accesos = std::to_string(ToInt32(rows.Field("Accesos")));
    document.AddRow({"  <Transaccion Nombre=\"", Text(rows.Field("Transaccion")), "\" ", " SID=\"",
                     WithoutSpaces(Text(rows.Field("Server_Id"))), "\" ", " Fecha=\"", cutoff,
                     "\" ", " Accesos=\"", accesos, "\" />"});
  }
  rows.Close();  // the rows go before the document is sent
  usage.document = document.Finish();
  return "";
}

// The totals of the unsent records up to cutoff, without their values.
MarkingRecord CountTotals(RunState& run, const std::string& cutoff) {
  MarkingRecord counts;
  counts.cutoff = cutoff;
  RowSet rows =
      ExecuteSql(run, "SELECT COUNT(Id) AS Accesos FROM Transaccion_Uso WHERE Fecha <= '" + cutoff +
                          "' AND Enviado = 'NO' GROUP BY Transaccion, Server_Id");
  for (; !rows.Eof(); rows.MoveNext(), ++counts.rows)
    counts.accesos += ToInt32(rows.Field("Accesos"));
  return counts;
}

// Runs the marking statement within the marking's share of the run, so
// that a locked table leaves the roster report its time; returns the
// records it changed, as the database counts them (-1 when it does not).
long long Mark(RunState& run, const std::string& cutoff) {
  struct Bounded {
    explicit Bounded(RunState& r) : run(r) {
      run.DbConnection->SetCommandTimeout(std::max<std::chrono::seconds>(
          std::chrono::seconds(1), std::chrono::duration_cast<std::chrono::seconds>(
                                       run.Deadline.Share(RunDeadline::kMarkingTime))));
    }
    ~Bounded() {
      try {
        run.DbConnection->SetCommandTimeout(RunDeadline::kStatementTime);
      } catch (const std::exception&) {
      }
    }
    RunState& run;
  };
  if (!run.DbConnection) throw DatabaseError("the database session is not open");
  const Bounded bounded(run);
  return ExecuteSql(run, MarkingSql(cutoff)).AffectedRows();
}

// Sends usage and, once accepted, marks its records. retry: the record of
// an earlier call of this very report is on the disk already. True when
// the report was accepted and marked.
bool Deliver(RunState& run, CallRecord& call, const Usage& usage, bool retry) {
  const std::string& cutoff = usage.counts.cutoff;
  const auto call_time = TimeForCall(run, kProcedure, run.Deadline.Share(RunDeadline::kMarkingTime),
                                     retry ? "the next run sends the same report again"
                                           : "the records stay unsent and go with the next run");
  UsageReportSummary& summary = run.Summary.usage;
  if (!call_time) {
    summary.outcome = ReportOutcome::kHeldBack;
    return false;
  }
  if (!retry) call.Sending(usage.counts);
  summary.rows_sent = usage.counts.rows;
  summary.accesos_sent = usage.counts.accesos;
  CallReach reach = CallReach::kUnknown;
  if (SendReport(run, usage.document, *call_time, &reach)) {
    run.Summary.UsageAccepted();
    call.Accepted();
    long long marked = 0;
    try {
      marked = Mark(run, cutoff);
    } catch (const std::exception& e) {
      AcceptedNotMarked(usage.counts, e.what(), call.Kept(), call.File().Path());
      return false;
    }
    call.Remove();
    Reported(usage.counts, marked);
    return true;
  }
  summary.outcome = FailedCallOutcome(run);
  CallFailed(run, cutoff);
  // Only a report the service surely does not hold may be counted afresh.
  if (reach == CallReach::kRefused || (reach == CallReach::kNotSent && !retry)) {
    call.Remove();
  } else if (call.Kept()) {
    LogWarning(EntryText(kProcedure,
                         "The central web service may hold the usage report with "
                         "cut-off " +
                             cutoff + " though no answer said so: its record stays in " +
                             call.File().Path() +
                             ", and the next run sends the same report again "
                             "before it counts anything new"));
  }
  return false;
}

// ---- An earlier run's record. ----

bool SettleAccepted(RunState& run, CallRecord& call, const MarkingRecord& record) {
  const std::string& file = call.File().Path();
  const std::string earlier = "The usage report with cut-off " + record.cutoff + " (" +
                              Totals(record) +
                              ") that the central web service accepted in an earlier run";
  const std::optional<FechaHora> clock = FechaServidor(run);
  if (!clock || Formato_Fecha(*clock) < record.cutoff) {
    HeldBack(file + " says that " + earlier + " is not marked yet, but its cut-off is " +
             (clock ? "later than the database's clock (" + Formato_Fecha(*clock) + ")"
                    : "not checked: the database's clock cannot be read") +
             ", so nothing is marked. " + CompareAdvice(record.cutoff, file));
    return false;
  }
  const MarkingRecord unsent = CountTotals(run, record.cutoff);
  if (unsent.rows == 0) {
    LogInfo(EntryText(kProcedure, earlier + " is marked already: no unsent record is left up to "
                                            "its cut-off, and its record is removed"));
    call.Remove();
    return true;
  }
  if (!unsent.SameCounts(record)) {
    HeldBack(file + " says that " + earlier +
             " is not marked yet, but the unsent records up to "
             "that cut-off are now " +
             Totals(unsent) + ", so nothing is marked. " + CompareAdvice(record.cutoff, file));
    return false;
  }
  long long marked = 0;
  try {
    marked = Mark(run, record.cutoff);
  } catch (const std::exception& e) {
    AcceptedNotMarked(record, e.what(), true, file);
    return false;
  }
  LogInfo(EntryText(kProcedure, earlier + " had not been marked: the marking statement marked " +
                                    std::to_string(marked) + " records as sent"));
  call.Remove();
  return true;
}

bool RetrySending(RunState& run, CallRecord& call, const MarkingRecord& record) {
  const std::string& file = call.File().Path();
  Usage usage;
  usage.counts.database = call.Identity();
  if (std::string why = CountUsage(run, record.cutoff, usage); !why.empty()) {
    HeldBack(file + " holds a usage report that may have reached the central web service; " + why);
    return false;
  }
  if (!usage.counts.SameCounts(record)) {
    HeldBack(
        file + " holds the usage report with cut-off " + record.cutoff + " (" + Totals(record) +
        ") that may have reached the central web service without its answer arriving, but "
        "the unsent records up to that cut-off are now " +
        Totals(usage.counts) + ", so it is not sent again. " + CompareAdvice(record.cutoff, file));
    return false;
  }
  LogInfo(EntryText(kProcedure, "The usage report with cut-off " + record.cutoff + " (" +
                                    Totals(record) +
                                    ") may have reached the central web service in an earlier "
                                    "run without its answer arriving: it is sent again as it was"));
  return Deliver(run, call, usage, /*retry=*/true);
}

// Settles what an earlier run left; false when this run must count nothing.
bool SettleEarlierCall(RunState& run, CallRecord& call) {
  if (!call.Usable()) return true;
  call.RemoveLeftover();
  const MarkingRecordFile& file = call.File();
  const std::string older = EarlierVersionRecordPath(run.StateFolder);
  std::optional<MarkingRecord> record;
  try {
    if (ReadStateFile(older, 64 * 1024)) {
      HeldBack(older +
               " was left by an earlier version of the job, which did not say which database it "
               "concerns: whether the central web service billed its report is not known. " +
               CompareAdvice("<its cut-off>", older));
      return false;
    }
    record = file.Read();
  } catch (const std::exception& e) {
    HeldBack(std::string(e.what()) +
             ": whether the central web service took an earlier usage report is not known. "
             "Compare the usage the service billed with the records marked SI, then remove " +
             file.Path() + "; until then this run and the next count and send no usage");
    return false;
  }
  if (!record) return true;
  call.Found();
  if (record->database != call.Identity()) {
    HeldBack(file.Path() + " holds the record of a usage report of another database (" +
             record->database + "; this run's is " + call.Identity() +
             "), so nothing is counted on top of it. " +
             CompareAdvice(record->cutoff, file.Path()));
    return false;
  }
  return record->accepted ? SettleAccepted(run, call, *record) : RetrySending(run, call, *record);
}

void Report(RunState& run) {
  UsageReportSummary& summary = run.Summary.usage;
  if (!TableExists(run, "Transaccion_Uso")) {
    summary.outcome = ReportOutcome::kNoTable;
    return TableMissing();
  }
  CallRecord call(run, DatabaseIdentity(*run.DbConnection));
  if (!SettleEarlierCall(run, call)) {
    summary.outcome = ReportOutcome::kHeldBack;
    return;
  }

  // The last whole second of the database's clock: every record of it is
  // written by now, so none of them is marked without being counted.
  const std::string cutoff = Formato_Fecha(SecondBefore(Get_FechaServidor(run)));
  summary.cutoff = cutoff;
  Usage usage;
  usage.counts.database = call.Identity();
  if (std::string why = CountUsage(run, cutoff, usage); !why.empty()) {
    summary.outcome = ReportOutcome::kHeldBack;
    return HeldBack(why);
  }
  summary.rows_counted = usage.counts.rows;
  summary.records_counted = usage.counts.accesos;
  if (usage.counts.rows == 0) {
    summary.outcome = ReportOutcome::kNothingToSend;
    return NothingToReport(cutoff);
  }
  Deliver(run, call, usage, /*retry=*/false);
}

}  // namespace

void frmMain::Get_Transaccion_Uso() {
  run_.Summary.usage.outcome = ReportOutcome::kFailed;  // until an outcome point says otherwise
  try {
    Report(run_);
  } catch (const std::exception& error) {
    LogError(EntryText(kProcedure, error.what()));
  }
}

}  // namespace quorvex
