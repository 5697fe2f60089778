// The unsent usage rows: a value the usage document cannot carry holds
// back every run's usage report until it is corrected, so each such row is
// named here before the job meets it. Only a SELECT, on the read-only
// session the database checks opened.
#include <exception>
#include <string>

#include "configuration_check.h"
#include "reporting/usage_values.h"

namespace quorvex {

void ConfigurationCheck::CheckUsageValues() {
  if (!run_.DbConnection) return;  // the database's own lines say why
  constexpr int kNamed = 10;
  std::string found;
  int bad = 0;
  try {
    RowSet rows = run_.DbConnection->Execute(
        "SELECT Transaccion, Server_Id, COUNT(Id) AS Accesos FROM Transaccion_Uso WHERE Enviado "
        "= 'NO' GROUP BY Transaccion, Server_Id");
    for (; !rows.Eof(); rows.MoveNext()) {
      const std::string nombre = rows.Field("Transaccion").value_or("");
      const std::string sid = rows.Field("Server_Id").value_or("");
      for (const auto& [column, value] : {std::pair{"Transaccion", &nombre}, {"Server_Id", &sid}}) {
        const std::string problem = UsageValueProblem(*value);
        if (problem.empty()) continue;
        if (++bad <= kNamed) {
          found += (found.empty() ? "" : "; ") + std::string("Transaccion ") + ShownValue(nombre) +
                   ", Server_Id " + ShownValue(sid) + " (" + rows.Field("Accesos").value_or("0") +
                   " records): its " + column + " " + problem;
        }
        break;
      }
    }
  } catch (const std::exception&) {
    return;  // the table's own line says why it cannot be read
  }
  if (bad == 0) {
    findings_.Ok("usage values", "every unsent usage row can go into the usage document");
    return;
  }
  if (bad > kNamed) found += "; and " + std::to_string(bad - kNamed) + " more";
  findings_.Fail("usage values",
                 std::to_string(bad) +
                     " unsent usage rows would make a document the central service refuses, so "
                     "no usage is reported: " +
                     found,
                 UsageValueAdvice() + ".");
}

}  // namespace quorvex
