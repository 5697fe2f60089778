// The embedded SQLite session on a file of one table; the job's own
// statements run on the shipped schema in the whole-job tests (tests/).
#include "database/database.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>

namespace quorvex {
namespace {

namespace fs = std::filesystem;

class SqliteSession : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(folder_);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((folder_ / "inst.db").string().c_str(), &db), SQLITE_OK);
    const int rc = sqlite3_exec(db, "CREATE TABLE Operadores (Operador varchar(20))", nullptr,
                                nullptr, nullptr);
    sqlite3_close(db);
    ASSERT_EQ(rc, SQLITE_OK);
    db_ = OpenConnection("User ID=sa;Data Source=sqlite:inst.db;APP=Quorvex", folder_.string());
  }
  void TearDown() override {
    db_.reset();
    fs::remove_all(folder_);
  }

  const fs::path folder_ = fs::temp_directory_path() / ("quorvex-db-" + std::to_string(getpid()));
  std::unique_ptr<Connection> db_;
};

// The catalog view sysobjects: the reports' tests (tests/reporting), which
// drop and replace their tables.
TEST_F(SqliteSession, ValuesAndColumnsAsTheJobsReadThem) {
  RowSet rows = db_->Execute(
      "SELECT NULL AS n, 42 AS i, -7 AS neg, 0.63 AS r, 12.0 AS whole, 1e20 AS big, "
      "'  blanks ' AS t, '' AS empty");
  const std::vector<std::pair<const char*, FieldValue>> values = {
      {"n", std::nullopt}, {"I", "42"},     {"neg", "-7"},
      {"r", "0.63"},       {"whole", "12"}, {"BIG", "100000000000000000000"},
      {"t", "  blanks "},  {"empty", ""}};
  for (const auto& [column, value] : values) EXPECT_EQ(rows.Field(column), value) << column;
  EXPECT_THAT([&] { db_->Execute("SELECT Nada FROM Operadores"); },
              ::testing::ThrowsMessage<DatabaseError>("no such column: Nada"));
  EXPECT_THROW(rows.Field("Nombre"), DatabaseError);
}

TEST_F(SqliteSession, CommandTimeoutInterruptsALongStatement) {
  db_->SetCommandTimeout(std::chrono::seconds(1));
  EXPECT_THAT(
      [&] {
        db_->Execute(
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 "
            "FROM n WHERE i < 1000000000000) SELECT count(*) FROM n");
      },
      ::testing::ThrowsMessage<DatabaseError>(
          "Query timeout expired: the statement ran longer than the command time-out of 1 s"));
  EXPECT_EQ(db_->Execute("SELECT count(*) AS c FROM Operadores").Field("c"), "0");
}

}  // namespace
}  // namespace quorvex
