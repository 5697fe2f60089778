// The ODBC session against a real PostgreSQL server (see pg_harness.sh),
// reached through the data source "QuorvexPgTest" in the harness's
// odbc.ini (ODBCINI). The job's own statements must run unchanged. A
// refused login and a server that is down are tested on the whole job
// (job_postgres_test.cc), the usage and roster statements through the
// reports (tests/reporting/reports_postgres_test.cc).
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <string>

#include "platform/database.h"

namespace quorvex {
namespace {

// True for "YYYY-MM-DD hh:mm:ss".
bool IsDateTimeText(const std::string& text) {
  return std::regex_match(text, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)"));
}

std::string ConnectionString(const std::string& source, const std::string& password) {
  return "Provider=SQLOLEDB.1;Password=" + password +
         ";Persist Security Info=True;User ID=quorvex;Initial Catalog=quorvex_test;"
         "Data Source=" +
         source + ";APP=Quorvex";
}

std::unique_ptr<Connection> Open() {
  return OpenConnection(ConnectionString("odbc:QuorvexPgTest", "quorvex"), "/");
}

FieldValue Scalar(Connection& db, const std::string& sql) {
  RowSet rows = db.Execute(sql);
  EXPECT_EQ(rows.RowCount(), 1u) << sql;
  if (rows.Eof()) return std::nullopt;
  return rows.Field(rows.Columns().at(0));
}

class PostgresSession : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(std::getenv("ODBCINI"), nullptr) << "run through ctest (pg_harness.sh)";
    db_ = Open();
    for (const char* table :
         {"Configuracion", "Servidor_Timbrado", "Transaccion_Uso", "Operadores"}) {
      db_->Execute(std::string("DELETE FROM ") + table);
    }
  }
  std::unique_ptr<Connection> db_;
};

TEST_F(PostgresSession, RunsTheJobsStatementsUnchanged) {
  Connection& db = *db_;
  ASSERT_EQ(db.BackendName(), "odbc");
  // The session settings: the server rejects SET DATEFORMAT (ignored by
  // the job), the time-out is taken.
  EXPECT_THROW(db.Execute("SET DATEFORMAT YMD"), DatabaseError);
  db.SetCommandTimeout(std::chrono::seconds(300));

  db.Execute(
      "INSERT INTO Configuracion VALUES ('GEN_WEBSERVICE_UPDATE_URL', 'http://h/update.asmx')");
  db.Execute(
      "INSERT INTO Servidor_Timbrado VALUES ('1','http://a/x','AC',NULL), "
      "('2','http://b/x','BA',5)");
  // PostgreSQL hands back lower-case column names; lookup ignores case.
  EXPECT_EQ(Scalar(db,
                   "SELECT Cf_Valor FROM Configuracion WHERE Cf_Variable = "
                   "'GEN_WEBSERVICE_UPDATE_URL'"),
            "http://h/update.asmx");

  RowSet servers =
      db.Execute("SELECT St_ID,    St_Url FROM Servidor_Timbrado WHERE Es_Cve_Estado <> 'BA' ");
  ASSERT_EQ(servers.RowCount(), 1u);
  EXPECT_EQ(servers.Field("St_Url"), "http://a/x");
  db.Execute("UPDATE Servidor_Timbrado SET    St_Ping =  12.25 WHERE St_ID = '1' ");
  db.Execute("UPDATE Servidor_Timbrado SET    St_Ping = -1 WHERE St_ID = '' ");
  EXPECT_EQ(Scalar(db, "SELECT St_Ping FROM Servidor_Timbrado WHERE St_ID = '1'"), "12.2500");
  EXPECT_EQ(Scalar(db, "SELECT St_Ping FROM Servidor_Timbrado WHERE St_ID = '2'"), "5.0000");

  for (const char* table : {"Operadores", "Transaccion_Uso"}) {
    EXPECT_EQ(Scalar(db, std::string("SELECT 'SI' AS Existe FROM sysobjects WHERE "
                                     "sysobjects.Name = '") +
                             table + "' AND type = 'U'"),
              "SI");
  }
  EXPECT_TRUE(db.Execute("SELECT 'SI' AS Existe FROM sysobjects WHERE sysobjects.Name = "
                         "'NoSuchTable' AND type = 'U'")
                  .Eof());

  FieldValue now = Scalar(db, "SELECT GetDate() as Fecha");
  ASSERT_TRUE(now.has_value());
  EXPECT_TRUE(IsDateTimeText(*now)) << *now;

  // Values longer than one read come back whole.
  std::string long_text;
  for (int i = 0; i < 5000; ++i) long_text += "abc";
  EXPECT_EQ(Scalar(db, "SELECT repeat('abc', 5000) AS long_text"), long_text);
}

TEST_F(PostgresSession, CommandTimeoutCancelsALongStatement) {
  db_->SetCommandTimeout(std::chrono::seconds(1));
  try {
    db_->Execute("SELECT pg_sleep(60)");
    FAIL() << "the statement must be cancelled";
  } catch (const DatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("cancel"), std::string::npos) << e.what();
  }
  EXPECT_EQ(Scalar(*db_, "SELECT 1 AS one"), "1");
}

TEST_F(PostgresSession, SessionKilledBetweenStatements) {
  FieldValue pid = Scalar(*db_, "SELECT pg_backend_pid() AS pid");
  ASSERT_TRUE(pid.has_value());
  auto other = Open();
  EXPECT_EQ(Scalar(*other, "SELECT pg_terminate_backend(" + *pid + ") AS done"), "1");
  try {
    db_->Execute("SELECT Cf_Valor FROM Configuracion");
    FAIL() << "the session was terminated";
  } catch (const DatabaseError& e) {
    std::string error = e.what();
    EXPECT_NE(error.find("terminat"), std::string::npos) << error;
  }
  // No reconnection: the session stays dead.
  EXPECT_THROW(db_->Execute("SELECT 1"), DatabaseError);
}

}  // namespace
}  // namespace quorvex
