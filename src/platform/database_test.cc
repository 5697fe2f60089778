// The embedded SQLite session, on real database files in a temporary
// folder, made from the shipped schema script.
#include "platform/database.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/database_backends.h"

namespace quorvex {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A fresh folder with "inst.db" made from sql/sqlite/schema.sql.
class SqliteSession : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() /
              ("quorvex-db-" + std::to_string(getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((folder_ / "inst.db").c_str(), &db), SQLITE_OK);
    std::string schema = ReadFile(fs::path(QUORVEX_SOURCE_DIR) / "sql/sqlite/schema.sql");
    char* message = nullptr;
    int rc = sqlite3_exec(db, schema.c_str(), nullptr, nullptr, &message);
    std::string error = message ? message : "";
    sqlite3_free(message);
    sqlite3_close(db);
    ASSERT_EQ(rc, SQLITE_OK) << error;
    connection_ = OpenConnection(
        "Provider=SQLOLEDB.1;Password=;Persist Security Info=True;"
        "User ID=sa;Initial Catalog=EMPRESAS;Data Source=sqlite:inst.db;"
        "APP=Quorvex",
        folder_.string());
  }
  void TearDown() override {
    connection_.reset();
    fs::remove_all(folder_);
  }

  // The single value of a one-row, one-column statement.
  FieldValue Scalar(const std::string& sql) {
    RowSet rows = connection_->Execute(sql);
    EXPECT_EQ(rows.RowCount(), 1u) << sql;
    if (rows.Eof() || rows.Columns().empty()) return std::nullopt;
    return rows.Field(rows.Columns()[0]);
  }

  fs::path folder_;
  std::unique_ptr<Connection> connection_;
};

// The job's own statements run on SQLite in the whole-job, sweep and report
// tests (tests/); here the session itself.
TEST_F(SqliteSession, OpensInWalModeWithTheCatalogView) {
  ASSERT_EQ(connection_->BackendName(), "sqlite");
  EXPECT_EQ(Scalar("PRAGMA journal_mode"), "wal");
  EXPECT_EQ(Scalar("SELECT 'SI' AS Existe FROM sysobjects WHERE sysobjects.Name = 'Operadores' "
                   "AND type = 'U'"),
            "SI");
}

TEST_F(SqliteSession, MissingTableDisappearsFromTheCatalog) {
  connection_->Execute("DROP TABLE Operadores");
  EXPECT_TRUE(connection_
                  ->Execute("SELECT 'SI' AS Existe FROM sysobjects WHERE sysobjects.Name = "
                            "'Operadores' AND type = 'U'")
                  .Eof());
  try {
    connection_->Execute("SELECT Operador FROM Operadores");
    FAIL() << "a missing table must fail";
  } catch (const DatabaseError& e) {
    EXPECT_STREQ(e.what(), "no such table: Operadores");
  }
}

TEST_F(SqliteSession, ValuesAsText) {
  RowSet rows = connection_->Execute(
      "SELECT NULL AS n, 42 AS i, -7 AS neg, 0.63 AS r, 12.0 AS whole, 1e20 AS big, "
      "'  blanks ' AS t, '' AS empty, x'6869' AS b");
  ASSERT_FALSE(rows.Eof());
  EXPECT_EQ(rows.Field("n"), std::nullopt);
  EXPECT_EQ(rows.Field("i"), "42");
  EXPECT_EQ(rows.Field("neg"), "-7");
  EXPECT_EQ(rows.Field("r"), "0.63");
  EXPECT_EQ(rows.Field("whole"), "12");
  EXPECT_EQ(rows.Field("big"), "100000000000000000000");
  EXPECT_EQ(rows.Field("t"), "  blanks ");
  EXPECT_EQ(rows.Field("empty"), "");
  EXPECT_EQ(rows.Field("b"), "hi");
}

TEST_F(SqliteSession, RowSetWalksForwardAndFindsColumnsInAnyCase) {
  connection_->Execute("INSERT INTO Operadores VALUES ('A','uno',NULL), ('B','dos','b@x')");
  RowSet rows = connection_->Execute("SELECT Operador, Email FROM Operadores ORDER BY Operador");
  ASSERT_EQ(rows.Columns(), (std::vector<std::string>{"Operador", "Email"}));
  EXPECT_EQ(rows.Field("OPERADOR"), "A");
  EXPECT_EQ(rows.Field("email"), std::nullopt);
  rows.MoveNext();
  EXPECT_EQ(rows.Field("Operador"), "B");
  EXPECT_EQ(rows.Field("EMAIL"), "b@x");
  try {
    rows.Field("Nombre");
    FAIL() << "an unknown column must fail";
  } catch (const DatabaseError& e) {
    EXPECT_STREQ(e.what(),
                 "Item cannot be found in the collection corresponding to the requested name or "
                 "ordinal: Nombre");
  }
  rows.MoveNext();
  EXPECT_TRUE(rows.Eof());
  EXPECT_THROW(rows.Field("Operador"), DatabaseError);
  EXPECT_TRUE(connection_->Execute("UPDATE Operadores SET Nombre = 'x'").Eof());
}

TEST_F(SqliteSession, StatementErrorsCarrySqlitesText) {
  try {
    connection_->Execute("SET DATEFORMAT YMD");
    FAIL() << "session options are not supported";
  } catch (const DatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("SET DATEFORMAT YMD"), std::string::npos) << e.what();
  }
  try {
    connection_->Execute("SELECT Nada FROM Operadores");
    FAIL() << "an unknown column must fail";
  } catch (const DatabaseError& e) {
    EXPECT_STREQ(e.what(), "no such column: Nada");
  }
  // The session is still usable afterwards.
  EXPECT_EQ(Scalar("SELECT 1 AS uno"), "1");
}

TEST_F(SqliteSession, CommandTimeoutInterruptsALongStatement) {
  connection_->SetCommandTimeout(std::chrono::seconds(1));
  const char* endless =
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1000000000000) "
      "SELECT count(*) FROM n";
  try {
    connection_->Execute(endless);
    FAIL() << "the statement must be interrupted";
  } catch (const DatabaseError& e) {
    EXPECT_EQ(std::string(e.what()), CommandTimeoutMessage(std::chrono::seconds(1)));
    EXPECT_NE(std::string(e.what()).find("timeout expired"), std::string::npos);
  }
  // The next statement gets its own full time.
  EXPECT_EQ(Scalar("SELECT count(*) FROM Operadores"), "0");
}

TEST_F(SqliteSession, OpenFailures) {
  auto open = [this](const std::string& source) {
    try {
      OpenConnection("Data Source=" + source, folder_.string());
    } catch (const DatabaseError& e) {
      return std::string(e.what());
    }
    return std::string("opened");
  };
  // Never creates an empty database in place of a missing one.
  EXPECT_EQ(open("sqlite:missing.db"),
            "unable to open database file: " + (folder_ / "missing.db").string());
  EXPECT_FALSE(fs::exists(folder_ / "missing.db"));
  std::ofstream(folder_ / "text.db") << "this is not a database, just some text\n";
  EXPECT_EQ(open("sqlite:text.db"), "file is not a database: " + (folder_ / "text.db").string());
  EXPECT_EQ(open("sqlite:"), "Data Source sqlite: names no database file");
  // An absolute path ignores the program folder.
  EXPECT_EQ(open("sqlite:" + (folder_ / "inst.db").string()), "opened");
  EXPECT_EQ(open(""), "The connection string names no Data Source");
}

}  // namespace
}  // namespace quorvex
