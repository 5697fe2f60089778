#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "database/database.h"
#include "database/database_backends.h"

namespace quorvex {
namespace {

// Each row: a connection string, the item asked for, its value.
TEST(ParseConnectionString, ValueForms) {
  constexpr char kJobs[] =
      "Provider=SQLOLEDB.1;Password=s3cr=t;Persist Security Info=True;User ID=sa;"
      "Initial Catalog=EMPRESAS;Data Source=db1\\SQLEXPRESS;APP=Quorvex";
  const struct {
    const char* text;
    const char* name;
    const char* value;
  } cases[] = {
      {kJobs, "password", "s3cr=t"},  // '=' inside a value, names in any case
      {kJobs, "Data Source", "db1\\SQLEXPRESS"},
      {kJobs, "Connect Timeout", ""},
      {"Password=a b ", "Password", "a b "},  // unquoted values are kept as written
      {"Password=\"a;b\"", "Password", "a;b"},
      {"Password=\"say \"\"hi\"\"\"", "Password", "say \"hi\""},
      {"Password='it''s;ok'", "Password", "it's;ok"},
      {"Password={a;b}}c}", "Password", "a;b}c"},
      {"Password=1;Password=2", "Password", "2"},  // the last one wins
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ConnectionItemValue(ParseConnectionString(c.text), c.name), c.value);
  }
}

// Malformed strings are refused with a description that repeats none of
// their text: the text is usually a password.
TEST(ParseConnectionString, RejectsMalformedTextWithoutRepeatingIt) {
  for (const char* text : {"Provider;Secret", "Password=\"Secret", "Password={Secret", "=Secret",
                           "Password=\"a\"Secret;User ID=x", "Secret='x'y"}) {
    SCOPED_TRACE(text);
    try {
      ParseConnectionString(text);
      ADD_FAILURE() << "accepted";
    } catch (const DatabaseError& e) {
      EXPECT_EQ(std::string(e.what()).find("Secret"), std::string::npos) << e.what();
    }
  }
}

// The last choice is the driver a stock system has: Windows' own, or
// FreeTDS elsewhere.
TEST(SqlServerDriver, FirstInstalledInOrderOfPreference) {
#ifdef _WIN32
  const char* stock = "SQL Server";
  const char* other = "FreeTDS";
#else
  const char* stock = "FreeTDS";
  const char* other = "SQL Server";
#endif
  const struct {
    std::vector<std::string> installed;
    std::optional<std::string> chosen;
  } cases[] = {
      {{stock, "ODBC Driver 17 for SQL Server", "ODBC Driver 18 for SQL Server"},
       "ODBC Driver 18 for SQL Server"},
      {{stock, "ODBC Driver 17 for SQL Server"}, "ODBC Driver 17 for SQL Server"},
      {{"PostgreSQL ANSI", stock}, stock},
      {{"PostgreSQL ANSI", other}, std::nullopt},
      {{"PostgreSQL Unicode", "freetds", "sql server"}, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.installed.back());
    EXPECT_EQ(ChooseSqlServerDriver(c.installed), c.chosen);
  }
}

// Each row: the ODBC string built for a driver (or a DSN), and what it must be.
TEST(OdbcString, ServerFormsAndBraces) {
  const auto sql = [](const char* driver, const char* server, const char* db, const char* pwd) {
    return BuildSqlServerOdbcString(driver, {server, db, "sa", pwd, "Quorvex"});
  };
  const struct {
    std::string built;
    const char* expected;
  } cases[] = {
      {sql("ODBC Driver 18 for SQL Server", "db1\\SQLEXPRESS", "EMPRESAS", "pw"),
       "DRIVER={ODBC Driver 18 for SQL Server};SERVER=db1\\SQLEXPRESS;DATABASE=EMPRESAS;UID=sa;"
       "PWD=pw;APP=Quorvex;Encrypt=Optional"},
      {sql("ODBC Driver 17 for SQL Server", "10.0.0.5,1444", "EMPRESAS", "pw"),
       "DRIVER={ODBC Driver 17 for SQL Server};SERVER=10.0.0.5,1444;DATABASE=EMPRESAS;UID=sa;"
       "PWD=pw;APP=Quorvex"},
      {sql("FreeTDS", "10.0.0.5, 1444", "My Db", "p;w}d"),
       "DRIVER={FreeTDS};SERVER=10.0.0.5;PORT=1444;DATABASE=My Db;UID=sa;PWD={p;w}}d};APP=Quorvex"},
      {sql("FreeTDS", "db1", "", " lead"),
       "DRIVER={FreeTDS};SERVER=db1;UID=sa;PWD={ lead};APP=Quorvex"},
      {BuildDsnOdbcString("QuorvexPgTest", "quorvex", "{x"),
       "DSN=QuorvexPgTest;UID=quorvex;PWD={{x}"},
      {BuildDsnOdbcString("Local", "", ""), "DSN=Local"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.built, c.expected);
}

TEST(TranslateTopToLimit, RewritesOnlyPlainTop) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      // The reports' own TOP 1 runs on both backends in tests/reporting.
      {"SELECT\tTOP (5) a FROM t; ", "SELECT a FROM t LIMIT 5"},
      {"SELECT TOP 5 PERCENT a FROM t", "SELECT TOP 5 PERCENT a FROM t"},  // left to the database
      {"SELECT TOPIC FROM t", "SELECT TOPIC FROM t"},
  };
  for (const auto& c : cases) EXPECT_EQ(TranslateTopToLimit(c.in), c.out) << c.in;
}

}  // namespace
}  // namespace quorvex
