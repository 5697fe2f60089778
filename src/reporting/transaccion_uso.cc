// frmMain::Get_Transaccion_Uso: the transaction usage report.
//
// Counts the unreported usage records up to a cut-off of the database
// server's clock, sends the counts as a TRANSACCION-USO report document and,
// once the service has accepted it, marks exactly the counted records. The
// counting and the marking statements share their condition and the one
// cut-off text, so a record written after the cut-off (also one written
// while the call is in progress) is neither counted nor marked.
//
// The service bills from these counts, so the report keeps the record of
// its call in the state directory (reporting/marking_record.h): a report
// the service accepted is marked exactly once, by this run or, when the
// marking fails here, by the next one before it counts anything. Where no
// record can be kept, the report goes on without one and says so.
#include <exception>
#include <optional>
#include <string>

#include "eventlog/log.h"
#include "platform/state_directory.h"
#include "reporting/marking_record.h"
#include "reporting/modulo.h"
#include "reporting/report_frame.h"
#include "ui/frm_main.h"
#include "util/string_util.h"

namespace quorvex {

namespace {

constexpr char kProcedure[] = "Get_Transaccion_Uso";
constexpr char kRootStartTag[] =
    "<Documento Tipo='TRANSACCION-USO' Usuario='' Password='' Empresa='' > ";
constexpr char kNotCounted[] =
    ", and this run neither counts nor sends usage: that could send the same counts twice";

std::string MarkingSql(const std::string& cutoff) {
  return std::string("UPDATE Transaccion_Uso ") + " SET Enviado = 'SI' " + " WHERE Fecha <= '" +
         cutoff + "' AND " + "     Enviado = 'NO' ";
}

std::string AcceptedEarlier(const MarkingRecord& record) {
  return "The usage report with cut-off " + record.cutoff +
         " that the central web service accepted in an earlier run";
}

// The record of the report's call. A failure to keep it is a warning
// entry, after which the report goes on as it would without a record.
class CallRecord {
 public:
  explicit CallRecord(const RunState& run) : file_(run.StateFolder) {
    if (run.StateFolder.empty()) unusable_ = "the run has no state directory";
  }

  const MarkingRecordFile& File() const { return file_; }
  bool Usable() const { return unusable_.empty(); }
  void HeldByAnother() { unusable_ = file_.Path() + " holds the record of another database"; }

  void Sending(const RunState& run, const std::string& cutoff) {
    if (!Usable()) return Lost(unusable_);
    try {
      file_.WriteSending({false, cutoff, run.Settings.Server, run.Settings.Database});
      written_ = true;
    } catch (const std::exception& e) {
      Lost(e.what());
    }
  }
  // Left SENDING, the record makes the next run count again, as it would
  // without a record.
  void Accepted() {
    if (!written_) return;
    try {
      file_.MarkAccepted();
    } catch (const std::exception& e) {
      Lost(e.what());
    }
  }
  void Remove() {
    try {
      file_.Remove();
    } catch (const std::exception& e) {
      LogWarning(EntryText(kProcedure, std::string(e.what()) + ": the next run finds it again"));
    }
  }
  void RemoveWritten() {
    if (written_) Remove();
  }

 private:
  void Lost(const std::string& why) {
    const std::string text = "The record of the call to the central web service cannot be kept (" +
                             why +
                             "): should marking the counted records fail, the next run "
                             "sends their counts again";
    LogWarning(EntryText(kProcedure, text));
  }

  MarkingRecordFile file_;
  std::string unusable_;
  bool written_ = false;
};

// Settles a record left by an earlier run; false when this run must not
// count.
bool SettleEarlierCall(RunState& run, CallRecord& call) {
  const MarkingRecordFile& file = call.File();
  std::optional<MarkingRecord> record;
  try {
    if (call.Usable()) record = file.Read();
  } catch (const std::exception& e) {
    LogError(EntryText(kProcedure, std::string(e.what()) +
                                       ": whether the central web service accepted an earlier "
                                       "usage report is not known" +
                                       kNotCounted +
                                       ". Compare the usage the service received with the "
                                       "records marked SI, then remove the file"));
    return false;
  }
  if (!record) return true;
  if (!record->accepted) {
    const std::string text =
        "An earlier run ended during its call to the central web service (cut-off " +
        record->cutoff +
        "): whether the service accepted that usage report is not known, so its records are "
        "counted and sent again";
    LogWarning(EntryText(kProcedure, text));
    call.Remove();
    return true;
  }
  if (record->server != run.Settings.Server || record->database != run.Settings.Database) {
    LogWarning(EntryText(kProcedure,
                         AcceptedEarlier(*record) + " concerns another database (server " +
                             record->server + ", database " + record->database + "): it stays in " +
                             file.Path() + " until the job runs on that database again"));
    call.HeldByAnother();
    return true;
  }
  try {
    ExecuteSql(run, MarkingSql(record->cutoff));
  } catch (const std::exception& e) {
    LogError(EntryText(kProcedure, AcceptedEarlier(*record) +
                                       " is not marked yet, and marking it failed: " + e.what() +
                                       ". Its record stays in " + file.Path() + kNotCounted));
    return false;
  }
  LogInfo(EntryText(kProcedure, AcceptedEarlier(*record) +
                                    " had not been marked: its records are now marked as sent"));
  call.Remove();
  return true;
}

void Report(RunState& run) {
  CallRecord call(run);
  if (!SettleEarlierCall(run, call))
    return void(run.Summary.usage.outcome = ReportOutcome::kHeldBack);

  if (!TableExists(run, "Transaccion_Uso")) {
    LogWarning(EntryText(kProcedure, "TABLA Transaccion_Uso NO EXISTE!"));
    run.Summary.usage.outcome = ReportOutcome::kNoTable;
    return;
  }

  const std::string cutoff = Formato_Fecha(Get_FechaServidor(run));
  run.Summary.usage.cutoff = cutoff;

  RowSet rows = ExecuteSql(run, std::string(" SELECT Transaccion, ") + "     Server_Id, " +
                                    "     COUNT(Id) AS Accesos " + " FROM Transaccion_Uso " +
                                    " WHERE Fecha <= '" + cutoff + "' AND " +
                                    "     Enviado = 'NO' " + " GROUP BY Transaccion, " +
                                    "     Server_Id " + " ORDER BY Accesos DESC ");
  if (rows.Eof()) {
    LogInfo(EntryText(kProcedure, "NO HAY TRANSACCIONES PARA ESTADISTICO EN " + cutoff));
    run.Summary.usage.outcome = ReportOutcome::kNothingToSend;
    return;
  }

  ReportDocument document(kRootStartTag, "Transacciones");
  for (; !rows.Eof(); rows.MoveNext()) {
    const std::string nombre = FieldText(rows.Field("Transaccion"));
    const std::string sid = TrimSpaces(FieldText(rows.Field("Server_Id")));
    const std::string accesos =
        std::to_string(run.Summary.usage.CountRow(ToInt32(rows.Field("Accesos"))));
    document.AddRow({"  <Transaccion Nombre=\"", nombre, "\" ", " SID=\"", sid, "\" ", " Fecha=\"",
                     cutoff, "\" ", " Accesos=\"", accesos, "\" />"});
  }
  const std::string text = document.Finish();
  rows.Close();  // the rows go before the document is sent

  const auto call_time = TimeForCall(run, kProcedure, run.Deadline.Share(RunDeadline::kMarkingTime),
                                     "the records stay unsent and go with the next run");
  if (!call_time) return void(run.Summary.usage.outcome = ReportOutcome::kHeldBack);
  call.Sending(run, cutoff);
  run.Summary.usage.Sending();
  if (SendReport(run, text, *call_time)) {
    run.Summary.UsageAccepted();
    call.Accepted();
    // A failure here leaves the record for the next run to mark with.
    ExecuteSql(run, MarkingSql(cutoff));
    call.RemoveWritten();
  } else {
    call.RemoveWritten();
    run.Summary.usage.outcome = FailedCallOutcome(run);
    LogCallFailure(run, kProcedure, "NO ES POSIBLE CONSUMIR EL WEBSERVICE" + cutoff);
  }
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
