// The two usage reports through the ODBC session against the throw-away
// PostgreSQL server of tests/postgres (data source "QuorvexPgTest" in the
// harness's odbc.ini), with the reference central service over loopback.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <memory>
#include <regex>
#include <string>

#include "central_service_fixture.h"
#include "event_log_reader.h"
#include "platform/message_box.h"
#include "ui/frm_main.h"

namespace quorvex {
namespace {

using testing::CentralService;
using testing::Entry;
using testing::ReadEntries;
using testing::ReadFileBytes;
using testing::TempDir;

class ReportsPostgresTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(std::getenv("ODBCINI"), nullptr) << "run through ctest (pg_harness.sh)";
    log_path_ = dir_.path() + "/events.jsonl";
    setenv("QUORVEX_EVENT_LOG", log_path_.c_str(), 1);
    run_.DbConnection = OpenConnection(
        "Provider=SQLOLEDB.1;Password=quorvex;Persist Security Info=True;User ID=quorvex;"
        "Initial Catalog=quorvex_test;Data Source=odbc:QuorvexPgTest;APP=Quorvex",
        "/");
    for (const char* table : {"Transaccion_Uso", "Operadores"}) {
      run_.DbConnection->Execute(std::string("DELETE FROM ") + table);
    }
    run_.WebServiceUrl = service_.Url();
    form_ = std::make_unique<frmMain>(run_, *boxes_);
  }
  void TearDown() override {
    form_.reset();
    unsetenv("QUORVEX_EVENT_LOG");
  }

  std::string Column(const std::string& sql, const std::string& column) {
    std::string out;
    for (RowSet rows = run_.DbConnection->Execute(sql); !rows.Eof(); rows.MoveNext()) {
      out += rows.Field(column).value_or("<NULL>") + " ";
    }
    return out;
  }

  CentralService service_;
  TempDir dir_;
  std::string log_path_;
  std::unique_ptr<MessageBoxPresenter> boxes_ = MakeConsoleMessageBox();
  RunState run_;
  std::unique_ptr<frmMain> form_;
};

TEST_F(ReportsPostgresTest, CountsSendsAndMarksThenSendsTheRoster) {
  run_.DbConnection->Execute(
      "INSERT INTO Transaccion_Uso (Transaccion, Server_Id, Fecha, Enviado) VALUES "
      "('TIMBRADO', ' SRV-1 ', '2026-01-01 10:00:00', 'NO'), "
      "('TIMBRADO', ' SRV-1 ', '2026-01-01 11:00:00', 'NO'), "
      "('CANCELACION', ' SRV-1 ', '2026-01-02 10:00:00', 'NO'), "
      "('TIMBRADO', 'SRV-0', '2025-12-01 10:00:00', 'SI'), "
      "('TIMBRADO', 'SRV-9', '2099-01-01 00:00:00', 'NO')");
  run_.DbConnection->Execute(
      "INSERT INTO Operadores VALUES ('CONFIG', 'c', NULL), ('ANA', 'Ana', NULL), "
      "('DESARROLLO', 'd', NULL)");

  form_->Get_Transaccion_Uso();
  form_->Get_Operadores_Info();

  ASSERT_EQ(service_.Received(), 2);
  const std::string usage = service_.Document(1);
  std::smatch m;
  ASSERT_TRUE(std::regex_search(usage, m, std::regex("Fecha=\"([^\"]*)\"")));
  const std::string cutoff = m[1];
  EXPECT_EQ(usage,
            "<Documento Tipo='TRANSACCION-USO' Usuario='' Password='' Empresa='' > \r\n"
            " <Transacciones>\r\n"
            "  <Transaccion Nombre=\"TIMBRADO\"  SID=\"SRV-1\"  Fecha=\"" +
                cutoff +
                "\"  Accesos=\"2\" />\r\n"
                "  <Transaccion Nombre=\"CANCELACION\"  SID=\"SRV-1\"  Fecha=\"" +
                cutoff +
                "\"  Accesos=\"1\" />\r\n"
                "  </Transacciones>\r\n </Documento>");
  // The latest record (in 2099, not yet reported) gives the roster's SID.
  EXPECT_EQ(service_.Document(2),
            "<Documento Tipo='OPERADOR-INFO' Usuario='' Password='' Empresa='' > \r\n"
            " <Operadores>\r\n"
            "  <Operador  SID=\"SRV-9\"  Operador=\"ANA\"  Nombre=\"Ana\"  Email=\"\" />\r\n"
            "  </Operadores>\r\n </Documento>");
  EXPECT_EQ(Column("SELECT Enviado FROM Transaccion_Uso ORDER BY Fecha", "Enviado"),
            "SI SI SI SI NO ");
  EXPECT_EQ(ReadEntries(log_path_), (std::vector<Entry>{{4, "Get_Operadores_Info()\r\nOK"}}));
}

// A count above 2^31 - 1 cannot be had from real rows in a test, so the
// session is pointed at a schema of its own whose Transaccion_Uso.Id has a
// type of its own, with a count(...) aggregate for that type that adds three
// thousand million per row. The job's statements run unchanged; PostgreSQL
// picks the exact-type aggregate for COUNT(Id).
TEST_F(ReportsPostgresTest, CountBeyond32BitsEndsInTheErrorEntryAndMarksNothing) {
  Connection& db = *run_.DbConnection;
  db.Execute("DROP SCHEMA IF EXISTS desborde CASCADE");
  db.Execute("CREATE SCHEMA desborde");
  db.Execute("SET search_path TO desborde, public");
  db.Execute("CREATE TYPE desborde.id_grande AS (v integer)");
  db.Execute(
      "CREATE FUNCTION desborde.cuenta_grande(bigint, desborde.id_grande) RETURNS bigint "
      "LANGUAGE sql IMMUTABLE AS $$ SELECT $1 + 3000000000 $$");
  db.Execute(
      "CREATE AGGREGATE desborde.count(desborde.id_grande) "
      "(SFUNC = desborde.cuenta_grande, STYPE = bigint, INITCOND = '0')");
  db.Execute(
      "CREATE TABLE desborde.Transaccion_Uso (Id desborde.id_grande, Transaccion text, "
      "Server_Id text, Fecha timestamp, Enviado text)");
  db.Execute(
      "INSERT INTO desborde.Transaccion_Uso VALUES (ROW(1), 'TIMBRADO', 'SRV-1', "
      "'2026-01-01 10:00:00', 'NO')");

  form_->Get_Transaccion_Uso();

  const std::string enviado = Column("SELECT Enviado FROM desborde.Transaccion_Uso", "Enviado");
  db.Execute("SET search_path TO public");
  db.Execute("DROP SCHEMA desborde CASCADE");
  EXPECT_EQ(enviado, "NO ");
  EXPECT_EQ(service_.Received(), 0);
  EXPECT_EQ(ReadEntries(log_path_),
            (std::vector<Entry>{{1,
                                 "Get_Transaccion_Uso()\r\nOverflow: 3000000000 does not fit "
                                 "a 32-bit signed whole number"}}));
}

// Accented names leave the database as UTF-8 whichever session reads them:
// the embedded SQLite one, and the ODBC one, which reads character data as
// UTF-16 and converts it, so the server's code page plays no part.
class AccentedNamesTest : public ::testing::TestWithParam<const char*> {};

TEST_P(AccentedNamesTest, ArriveInTheDocumentAsUtf8) {
  TempDir dir;
  const std::string log_path = dir.path() + "/events.jsonl";
  setenv("QUORVEX_EVENT_LOG", log_path.c_str(), 1);
  std::string source = "odbc:QuorvexPgTest";
  if (std::string(GetParam()) == "sqlite") {
    source = "sqlite:" + dir.path() + "/quorvex.db";
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(source.c_str() + 7, &db), SQLITE_OK);
    const std::string schema =
        ReadFileBytes(std::string(QUORVEX_SOURCE_DIR) + "/sql/sqlite/schema.sql");
    const int rc = sqlite3_exec(db, schema.c_str(), nullptr, nullptr, nullptr);
    sqlite3_close(db);
    ASSERT_EQ(rc, SQLITE_OK);
  }
  RunState run;
  run.DbConnection = OpenConnection(
      "Provider=SQLOLEDB.1;Password=quorvex;Persist Security Info=True;User ID=quorvex;"
      "Initial Catalog=quorvex_test;Data Source=" +
          source + ";APP=Quorvex",
      dir.path());
  CentralService service;
  run.WebServiceUrl = service.Url();
  Connection& db = *run.DbConnection;
  db.Execute("DELETE FROM Transaccion_Uso");
  db.Execute("DELETE FROM Operadores");
  db.Execute(
      "INSERT INTO Transaccion_Uso (Transaccion, Server_Id, Fecha, Enviado) VALUES "
      "('TIMBRADO', 'SRV-\xC3\x91', '2026-01-01 10:00:00', 'SI')");
  db.Execute(
      "INSERT INTO Operadores VALUES ('JN', 'Jos\xC3\xA9 N\xC3\xBA\xC3\xB1\x65z', "
      "'jos\xC3\xA9@example.com'), ('EMOJI', '\xE2\x82\xAC \xF0\x9F\x98\x80', '')");
  std::unique_ptr<MessageBoxPresenter> boxes = MakeConsoleMessageBox();
  frmMain form(run, *boxes);

  form.Get_Operadores_Info();

  unsetenv("QUORVEX_EVENT_LOG");
  ASSERT_EQ(service.Received(), 1);
  // The database's order is not asked for; both lines are looked for.
  const std::string document = service.Document(1);
  EXPECT_NE(document.find("  <Operador  SID=\"SRV-\xC3\x91\"  Operador=\"JN\"  "
                          "Nombre=\"Jos\xC3\xA9 N\xC3\xBA\xC3\xB1\x65z\"  "
                          "Email=\"jos\xC3\xA9@example.com\" />\r\n"),
            std::string::npos)
      << document;
  EXPECT_NE(document.find("Operador=\"EMOJI\"  Nombre=\"\xE2\x82\xAC \xF0\x9F\x98\x80\""),
            std::string::npos)
      << document;
  EXPECT_EQ(ReadEntries(log_path), (std::vector<Entry>{{4, "Get_Operadores_Info()\r\nOK"}}));
}

INSTANTIATE_TEST_SUITE_P(Sessions, AccentedNamesTest, ::testing::Values("sqlite", "postgres"));

}  // namespace
}  // namespace quorvex
