// What the job's rows and rights must be for a run to do its work, beyond
// the tables and columns: the database writable for the job, one service
// address, active servers whose URL the sweep can use, and the key the
// sweep's updates find their row by. Only SELECT statements.
#include <cctype>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "configuration_check.h"
#include "platform/utf8_path.h"
#include "probe/reply_text.h"

namespace quorvex {
namespace {

// The first column of the first row of sql; throws DatabaseError.
std::string FirstValue(Connection& session, const std::string& sql) {
  RowSet rows = session.Execute(sql);
  if (rows.Eof() || rows.Columns().empty()) throw DatabaseError("no row came back for " + sql);
  return rows.Field(rows.Columns().front()).value_or("NULL");
}

// Whether the host the sweep takes from url carries a port: a colon after
// the name, or after the brackets of an IPv6 address.
bool HostHasPort(const std::string& url) {
  const std::string host = HostFromUrl(url);
  const std::size_t close = host.starts_with("[") ? host.find(']') : 0;
  return close != std::string::npos && host.find(':', close) != std::string::npos;
}

bool IsTrue(const std::string& value) {
  return value == "1" || value == "t" || value == "true" || value == "TRUE";
}

// The first of sqls the server runs, for catalog questions each kind of
// server asks in its own words; throws the last one's failure.
std::string FirstThatRuns(Connection& session, const std::vector<std::string>& sqls) {
  for (std::size_t k = 0;; ++k) {
    try {
      return FirstValue(session, sqls[k]);
    } catch (const std::exception&) {
      if (k + 1 == sqls.size()) throw;
    }
  }
}

}  // namespace

int ConfigurationCheck::ServiceAddressRows() {
  if (!run_.DbConnection) return -1;
  try {
    return std::stoi(FirstValue(*run_.DbConnection,
                                "SELECT COUNT(*) AS N FROM Configuracion WHERE Cf_Variable = "
                                "'GEN_WEBSERVICE_UPDATE_URL'"));
  } catch (const std::exception&) {
    return -1;
  }
}

void ConfigurationCheck::CheckServiceAddressRows() {
  const int rows = ServiceAddressRows();
  if (rows <= 1) return;  // none or one: the service lines say what it is
  findings_.Fail(
      "service address rows",
      "Configuracion holds " + std::to_string(rows) +
          " rows GEN_WEBSERVICE_UPDATE_URL, and the job takes whichever the database returns "
          "first, which may change from run to run",
      "Keep one: DELETE FROM Configuracion WHERE Cf_Variable = 'GEN_WEBSERVICE_UPDATE_URL' AND "
      "Cf_Valor <> '<the service's address>'.");
}

void ConfigurationCheck::CheckDatabaseWritable() {
  if (!run_.DbConnection) return;
  const std::string check = "database writable";
  if (backend_.backend == "sqlite") {
    const std::string& file = backend_.target;
    const std::string folder = Utf8FromPath(PathFromUtf8(file).parent_path());
    std::string why = account_->WhyCannotWrite(file);
    if (!why.empty()) {
      why = file + " " + why;
    } else if (std::string dir = account_->WhyCannotCreateIn(folder); !dir.empty()) {
      why = "its folder " + folder + " " + dir + " (SQLite writes its journal beside the file)";
    }
    const std::string judged = ", judged for " + account_->Describe();
    if (why.empty()) {
      findings_.Ok(check, file + " and its folder may be written" + judged);
    } else {
#ifdef _WIN32
      const std::string fix = "Give the job's account the right to modify " + file +
                              " and to create files in " + folder + ".";
#else
      const std::string fix = "Let the job's account own them: chown quorvex:quorvex " + file +
                              " " + folder + "; chmod u+rw " + file + "; chmod u+rwx " + folder +
                              ".";
#endif
      findings_.Fail(
          check, why + judged + "; every run would write an error entry and store nothing", fix);
    }
    return;
  }
  // A server says what the login may do without a write being tried.
  try {
    std::string denied;
    for (const char* table : {"Servidor_Timbrado", "Transaccion_Uso"}) {
      const std::string name(table);
      std::string lower = name;
      for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      const std::string value =
          FirstThatRuns(*run_.DbConnection,
                        {"SELECT has_table_privilege('" + lower + "', 'UPDATE') AS N",
                         "SELECT HAS_PERMS_BY_NAME('" + name + "', 'OBJECT', 'UPDATE') AS N"});
      if (!IsTrue(value)) denied += (denied.empty() ? "" : " and ") + name;
    }
    if (denied.empty()) {
      findings_.Ok(check, "the login " + run_.Settings.UserId +
                              " may update Servidor_Timbrado and Transaccion_Uso");
    } else {
      findings_.Fail(check,
                     "the login " + run_.Settings.UserId + " may not update " + denied +
                         "; every run would write an error entry and store nothing there",
                     "GRANT SELECT, UPDATE ON " + denied + " TO " + run_.Settings.UserId + ".");
    }
  } catch (const std::exception& e) {
    findings_.Warn(check, std::string("the server cannot say: ") + e.what(),
                   "Make sure the login " + run_.Settings.UserId +
                       " may update Servidor_Timbrado and Transaccion_Uso.");
  }
}

void ConfigurationCheck::CheckServers() {
  if (!run_.DbConnection) return;
  std::vector<std::string> ported;
  int active = 0;
  try {
    RowSet rows = run_.DbConnection->Execute(
        "SELECT St_ID, St_Url FROM Servidor_Timbrado WHERE Es_Cve_Estado <> 'BA'");
    for (; !rows.Eof(); rows.MoveNext()) {
      ++active;
      const FieldValue& url = rows.Field("St_Url");
      if (url && HostHasPort(*url) && ported.size() < 5) {
        ported.push_back(rows.Field("St_ID").value_or("NULL") + " (" + *url + ")");
      }
    }
  } catch (const std::exception&) {
    return;  // the table's own line says why it cannot be read
  }
  if (active == 0) {
    findings_.Warn("active servers",
                   "Servidor_Timbrado holds no server whose Es_Cve_Estado is other than 'BA', so "
                   "the sweep measures nothing",
                   "Add the stamping servers: INSERT INTO Servidor_Timbrado (St_ID, St_Url, "
                   "Es_Cve_Estado) VALUES ('<id>', 'https://<host>/<path>', 'AC').");
  } else if (!ported.empty()) {
    std::string list;
    for (const std::string& one : ported) list += (list.empty() ? "" : ", ") + one;
    findings_.Fail("server addresses",
                   "St_Url holds a port for " + list +
                       "; the sweep keeps the port in the host, so these servers always get -1",
                   "Write St_Url without the port (UPDATE Servidor_Timbrado SET St_Url = "
                   "'https://<host>/<path>' WHERE St_ID = '<id>'); the tools' port is PING-PORT.");
  } else {
    findings_.Ok("active servers",
                 std::to_string(active) + " active servers, each St_Url without a port");
  }
}

void ConfigurationCheck::CheckServerKey() {
  if (!run_.DbConnection) return;
  const std::string check = "key on St_ID";
  std::vector<std::string> questions;
  if (backend_.backend == "sqlite") {
    questions = {
        "SELECT COUNT(*) AS N FROM pragma_index_list('Servidor_Timbrado') AS l, "
        "pragma_index_info(l.name) AS c WHERE c.seqno = 0 AND lower(c.name) = 'st_id'"};
  } else {
    questions = {
        "SELECT COUNT(*) AS N FROM pg_index i JOIN pg_attribute a ON a.attrelid = i.indrelid AND "
        "a.attnum = i.indkey[0] WHERE i.indrelid = 'servidor_timbrado'::regclass AND "
        "lower(a.attname) = 'st_id'",
        "SELECT COUNT(*) AS N FROM sys.index_columns ic JOIN sys.columns c ON c.object_id = "
        "ic.object_id AND c.column_id = ic.column_id WHERE ic.object_id = "
        "OBJECT_ID('Servidor_Timbrado') AND ic.key_ordinal = 1 AND c.name = 'St_ID'"};
  }
  const std::string fix =
      "CREATE UNIQUE INDEX UX_Servidor_Timbrado_St_ID ON Servidor_Timbrado (St_ID).";
  try {
    if (FirstThatRuns(*run_.DbConnection, questions) != "0") {
      findings_.Ok(check, "Servidor_Timbrado has an index that starts with St_ID");
    } else {
      findings_.Warn(check,
                     "Servidor_Timbrado has no key or index on St_ID, so every update of the "
                     "sweep reads the whole table and a sweep takes time by the square of the "
                     "servers",
                     fix);
    }
  } catch (const std::exception& e) {
    findings_.Warn(check, std::string("the server cannot say: ") + e.what(), fix);
  }
}

}  // namespace quorvex
