// frmMain::Get_Transaccion_Uso: the transaction usage report.
//
// Counts the unreported usage records up to a cut-off of the database
// server's clock, sends the counts as a TRANSACCION-USO report document and,
// once the service has accepted it, marks exactly the counted records. The
// counting and the marking statements share their condition and the one
// cut-off text, so a record written after the cut-off (also one written
// while the call is in progress) is neither counted nor marked.
#include <exception>
#include <string>

#include "eventlog/log.h"
#include "reporting/modulo.h"
#include "reporting/report_frame.h"
#include "ui/frm_main.h"
#include "util/string_util.h"

namespace quorvex {

namespace {

constexpr char kProcedure[] = "Get_Transaccion_Uso";
constexpr char kRootStartTag[] =
    "<Documento Tipo='TRANSACCION-USO' Usuario='' Password='' Empresa='' > ";

void Report(RunState& run) {
  if (!TableExists(run, "Transaccion_Uso")) {
    LogWarning(EntryText(kProcedure, "TABLA Transaccion_Uso NO EXISTE!"));
    return;
  }

  const std::string cutoff = Formato_Fecha(Get_FechaServidor(run));

  RowSet rows = ExecuteSql(run, std::string(" SELECT Transaccion, ") + "     Server_Id, " +
                                    "     COUNT(Id) AS Accesos " + " FROM Transaccion_Uso " +
                                    " WHERE Fecha <= '" + cutoff + "' AND " +
                                    "     Enviado = 'NO' " + " GROUP BY Transaccion, " +
                                    "     Server_Id " + " ORDER BY Accesos DESC ");
  if (rows.Eof()) {
    LogInfo(EntryText(kProcedure, "NO HAY TRANSACCIONES PARA ESTADISTICO EN " + cutoff));
    return;
  }

  ReportDocument document(kRootStartTag, "Transacciones");
  for (; !rows.Eof(); rows.MoveNext()) {
    const std::string nombre = FieldText(rows.Field("Transaccion"));
    const std::string sid = TrimSpaces(FieldText(rows.Field("Server_Id")));
    const std::string accesos = std::to_string(ToInt32(rows.Field("Accesos")));
    document.AddRow({"  <Transaccion Nombre=\"", nombre, "\" ", " SID=\"", sid, "\" ", " Fecha=\"",
                     cutoff, "\" ", " Accesos=\"", accesos, "\" />"});
  }
  const std::string text = document.Finish();

  if (SendReport(run, text)) {
    ExecuteSql(run, std::string("UPDATE Transaccion_Uso ") + " SET Enviado = 'SI' " +
                        " WHERE Fecha <= '" + cutoff + "' AND " + "     Enviado = 'NO' ");
  } else {
    LogWarning(EntryText(kProcedure, "NO ES POSIBLE CONSUMIR EL WEBSERVICE" + cutoff));
  }
}

}  // namespace

void frmMain::Get_Transaccion_Uso() {
  try {
    Report(run_);
  } catch (const std::exception& error) {
    LogError(EntryText(kProcedure, error.what()));
  }
}

}  // namespace quorvex
