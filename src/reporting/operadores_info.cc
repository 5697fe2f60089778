// frmMain::Get_Operadores_Info: the operator roster report.
//
// Sends every operator account but the two reserved ones as an
// OPERADOR-INFO report document; each line carries the identifier of this
// server installation, taken from the latest usage record. Nothing is
// marked: the whole roster goes out at every run.
#include <exception>
#include <string>

#include "eventlog/log.h"
#include "reporting/report_frame.h"
#include "ui/frm_main.h"
#include "util/string_util.h"

namespace quorvex {

namespace {

constexpr char kProcedure[] = "Get_Operadores_Info";
constexpr char kRootStartTag[] =
    "<Documento Tipo='OPERADOR-INFO' Usuario='' Password='' Empresa='' > ";

void Report(RunState& run) {
  RosterSummary& summary = run.Summary.roster;
  if (!TableExists(run, "Transaccion_Uso")) {
    LogWarning(EntryText(kProcedure, "TABLA Transaccion_Uso NO EXISTE!"));
    summary.outcome = ReportOutcome::kNoTable;
    return;
  }
  if (!TableExists(run, "Operadores")) {
    LogWarning(EntryText(kProcedure, "TABLA Operadores NO EXISTE!"));
    summary.outcome = ReportOutcome::kNoTable;
    return;
  }

  RowSet latest = ExecuteSql(run, std::string(" SELECT TOP 1 ") + "  Server_Id " +
                                      " FROM Transaccion_Uso " + " ORDER BY Fecha DESC ");
  if (latest.Eof()) {
    LogInfo(EntryText(kProcedure, "NO SE PUDO HAYAR EL SERVER ID"));
    summary.outcome = ReportOutcome::kNothingToSend;
    return;
  }
  const FieldValue& server_id = latest.Field("Server_Id");
  if (!server_id) throw RunTimeError(kErrInvalidUseOfNull, kErrInvalidUseOfNullText);
  const std::string sid = TrimSpaces(*server_id);

  RowSet roster =
      ExecuteSql(run, std::string(" SELECT ") + "  Operador, Nombre, Email " + " FROM Operadores " +
                          " WHERE " + "   Operador NOT IN ('CONFIG','DESARROLLO') ");
  ReportDocument document(kRootStartTag, "Operadores");
  for (; !roster.Eof(); roster.MoveNext()) {
    document.AddRow({"  <Operador ", " SID=\"", sid, "\" ", " Operador=\"",
                     FieldText(roster.Field("Operador")), "\" ", " Nombre=\"",
                     FieldText(roster.Field("Nombre")), "\" ", " Email=\"",
                     FieldText(roster.Field("Email")), "\" />"});
    ++summary.operators_sent;
  }
  if (document.Empty()) return void(summary.outcome = ReportOutcome::kNothingToSend);
  roster.Close();  // the rows go before the document is sent

  const auto call_time =
      TimeForCall(run, kProcedure, std::chrono::milliseconds::zero(), "the roster goes next time");
  if (!call_time) {
    summary.outcome = ReportOutcome::kHeldBack;
    summary.operators_sent = 0;
    return;
  }
  if (SendReport(run, document.Finish(), *call_time)) {
    LogInfo(EntryText(kProcedure, "OK"));
    summary.outcome = ReportOutcome::kAccepted;
  } else {
    summary.outcome = FailedCallOutcome(run);
    LogCallFailure(run, kProcedure, "NO ES POSIBLE CONSUMIR EL WEBSERVICE");
  }
}

}  // namespace

void frmMain::Get_Operadores_Info() {
  run_.Summary.roster.outcome = ReportOutcome::kFailed;  // until an outcome point says otherwise
  try {
    Report(run_);
  } catch (const std::exception& error) {
    LogError(EntryText(kProcedure, error.what()));
  }
}

}  // namespace quorvex
