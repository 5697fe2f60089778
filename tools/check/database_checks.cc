// The database: which backend, the login, the tables and columns the job
// reads and writes, the server's clock and what the next run would find.
// Only SELECT statements, on a session opened read-only.
#include <algorithm>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "configuration_check.h"
#include "job/principal.h"
#include "platform/utf8_path.h"
#include "reporting/modulo.h"
#include "reporting/report_frame.h"
#include "util/string_util.h"

namespace quorvex {
namespace {

// A column the job uses and what it must hold: a number where the job
// writes numbers, a date and time where it compares dates, text elsewhere;
// none where any type serves (a column only counted).
struct Column {
  const char* name;
  std::optional<ColumnKind> kind;
};
struct Table {
  const char* name;
  std::vector<Column> columns;
};

const std::vector<Table>& JobTables() {
  constexpr ColumnKind kText = ColumnKind::kText;
  static const std::vector<Table> tables = {
      {"Configuracion", {{"Cf_Variable", kText}, {"Cf_Valor", kText}}},
      {"Servidor_Timbrado",
       {{"St_ID", kText},
        {"St_Url", kText},
        {"Es_Cve_Estado", kText},
        {"St_Ping", ColumnKind::kNumber}}},
      {"Transaccion_Uso",
       {{"Id", std::nullopt},
        {"Transaccion", kText},
        {"Server_Id", kText},
        {"Fecha", ColumnKind::kDateTime},
        {"Enviado", kText}}},
      {"Operadores", {{"Operador", kText}, {"Nombre", kText}, {"Email", kText}}},
  };
  return tables;
}

const char* KindName(ColumnKind kind) {
  switch (kind) {
    case ColumnKind::kText:
      return "text";
    case ColumnKind::kNumber:
      return "a number";
    case ColumnKind::kDateTime:
      return "a date and time";
    case ColumnKind::kOther:
      break;
  }
  return "neither text, a number nor a date";
}

std::string SchemaScript(const std::string& backend) {
  if (backend == "sqlite") return "sql/sqlite/schema.sql";
  if (backend == "sqlserver") return "sql/sqlserver/schema.sql";
  return "the schema script for its kind of server (sql/postgres/schema.sql for PostgreSQL)";
}

std::string Describe(const BackendChoice& choice) {
  if (choice.backend == "sqlite") return "the embedded SQLite database file " + choice.target;
  if (choice.backend == "odbc") return "the ODBC data source " + choice.target;
  return "the SQL Server " + choice.target + " through the ODBC driver \"" + choice.driver + "\"";
}

// The one value of a one-row statement.
std::string Single(Connection& session, const std::string& sql) {
  RowSet rows = session.Execute(sql);
  if (rows.Eof() || rows.Columns().empty()) throw DatabaseError("no row came back for " + sql);
  return rows.Field(rows.Columns().front()).value_or("NULL");
}

}  // namespace

void ConfigurationCheck::CheckDatabase() {
  if (!settings_read_) {
    findings_.Warn("database", "not checked: the settings file cannot be used",
                   "Fix the settings file, then run the check again.");
    return;
  }
  BackendChoice& choice = backend_;
  try {
    choice = ChooseBackend(BuildConnectionString(run_.Settings), run_.ProgramFolder);
    findings_.Ok("database backend", Describe(choice));
  } catch (const std::exception& e) {
    findings_.Fail("database backend", e.what(),
                   "Set SERVERDB to sqlite:<file>, odbc:<data source> or a SQL Server host, and "
                   "install a SQL Server ODBC driver for a host.");
    return;
  }
  try {
    run_.DbConnection = OpenJobDatabase(run_.Settings, run_.ProgramFolder, run_.Deadline,
                                        DatabaseAccess::kReadOnly);
    findings_.Ok("database login", choice.backend == "sqlite"
                                       ? "the file opens as a database"
                                       : "logged in as " + run_.Settings.UserId);
  } catch (const std::exception& e) {
    std::error_code error;
    if (choice.backend != "sqlite") {
      findings_.Fail("database login", e.what(),
                     "Check SERVERDB, DATABASE, USER-ID and PASSWORD (as quorvex-password prints "
                     "it), and that the job's account may reach the database.");
    } else if (!std::filesystem::exists(PathFromUtf8(choice.target), error) && !error) {
      findings_.Fail("database login", choice.target + " does not exist",
                     "Make it from the schema script (sqlite3 " + choice.target +
                         " < sql/sqlite/schema.sql), or name the installation's database file "
                         "in SERVERDB as sqlite:<file>.");
    } else {
      findings_.Fail("database login", choice.target + " cannot be opened: " + e.what(),
                     "Let the job's account read and write " + choice.target +
                         " and create files in its folder, and make sure it is a SQLite "
                         "database.");
    }
    return;
  }
  Connection& session = *run_.DbConnection;
  const std::string script = SchemaScript(choice.backend);

  std::vector<std::string> present;
  for (const Table& table : JobTables()) {
    const std::string check = std::string("table ") + table.name;
    RowSet rows;
    try {
      rows = session.Execute(std::string("SELECT * FROM ") + table.name + " WHERE 1 = 0");
    } catch (const std::exception& e) {
      findings_.Fail(check, std::string("cannot be read: ") + e.what(),
                     "Load " + script + " into the database: it makes the tables the job uses.");
      continue;
    }
    present.push_back(table.name);
    std::string faults;
    std::string found;
    for (const Column& need : table.columns) {
      const std::vector<std::string>& names = rows.Columns();
      const std::size_t at = std::find_if(names.begin(), names.end(),
                                          [&need](const std::string& name) {
                                            return EqualsIgnoringAsciiCase(name, need.name);
                                          }) -
                             names.begin();
      if (at == names.size()) {
        faults += (faults.empty() ? "" : "; ") + std::string("has no column ") + need.name;
        continue;
      }
      const ColumnKind kind =
          at < rows.ColumnKinds().size() ? rows.ColumnKinds()[at] : ColumnKind::kOther;
      found += (found.empty() ? "" : ", ") + std::string(need.name) + " (" + KindName(kind) + ")";
      // The embedded database keeps dates as text, by design: its schema
      // declares Fecha TEXT, and the statements compare them as text.
      const bool dates_as_text = choice.backend == "sqlite" && need.kind == ColumnKind::kDateTime &&
                                 kind == ColumnKind::kText;
      if (need.kind && kind != *need.kind && !dates_as_text) {
        faults += (faults.empty() ? "" : "; ") + std::string("column ") + need.name + " holds " +
                  KindName(kind) + ", not " + KindName(*need.kind);
      }
    }
    if (faults.empty()) {
      findings_.Ok(check, "has " + found);
    } else {
      findings_.Fail(
          check, faults,
          std::string("Give table ") + table.name + " the columns and types of " + script + ".");
    }
  }

  // The reports find their tables through the catalog view, not by reading
  // them: a table the view does not list is a missing table to them.
  try {
    std::string unlisted;
    std::string listed;
    for (const char* table : {"Transaccion_Uso", "Operadores"}) {
      if (std::find(present.begin(), present.end(), table) == present.end()) continue;
      std::string& into = TableExists(run_, table) ? listed : unlisted;
      into += (into.empty() ? "" : " and ") + std::string(table);
    }
    if (listed.empty() && unlisted.empty()) {
      findings_.Warn("sysobjects",
                     "not checked: neither Transaccion_Uso nor Operadores exists to be looked up",
                     "Fix the table lines above, then run the check again.");
    } else if (unlisted.empty()) {
      findings_.Ok("sysobjects", "lists " + listed + " as tables, as the reports look them up");
    } else {
      findings_.Fail("sysobjects",
                     "does not list " + unlisted + " as a table, so the reports take it as missing",
                     "Load " + script + ", which makes the sysobjects view the reports read.");
    }
  } catch (const std::exception& e) {
    findings_.Fail("sysobjects", std::string("cannot be read: ") + e.what(),
                   "Load " + script + ", which makes the sysobjects view the reports read.");
  }

  std::string now;
  try {
    now = Single(session, "SELECT GetDate() as Fecha");
    FechaHora parsed;
    if (!ParseFechaHora(now, parsed)) throw DatabaseError("\"" + now + "\" is not a date and time");
    findings_.Ok("GetDate()", "the database's clock reads " + now);
  } catch (const std::exception& e) {
    findings_.Fail("GetDate()", e.what(),
                   "Load " + script + ", which makes the GetDate() function the reports use.");
  }

  // What the next run would work on; a count its table cannot give is left
  // out, the table's own line says why.
  const std::string cutoff = Formato_Fecha(Get_FechaServidor(run_));
  const struct {
    std::string what;
    std::string sql;
  } counts[] = {
      {"active servers to measure",
       "SELECT COUNT(*) AS N FROM Servidor_Timbrado WHERE Es_Cve_Estado <> 'BA'"},
      {"unsent usage records up to " + cutoff,
       "SELECT COUNT(Id) AS N FROM Transaccion_Uso WHERE Fecha <= '" + cutoff +
           "' AND Enviado = 'NO'"},
      {"operators to report",
       "SELECT COUNT(*) AS N FROM Operadores WHERE Operador NOT IN ('CONFIG','DESARROLLO')"},
  };
  std::string next;
  for (const auto& count : counts) {
    try {
      const std::string n = Single(session, count.sql);
      if (count.sql.find("Enviado") != std::string::npos) unsent_records_ = std::stoll(n);
      next += (next.empty() ? "" : ", ") + n + " " + count.what;
    } catch (const std::exception&) {
    }
  }
  if (!next.empty()) findings_.Ok("next run", next);
}

}  // namespace quorvex
