#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/database.h"
#include "platform/database_backends.h"

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
      {kJobs, "USER ID", "sa"},
      {kJobs, "Data Source", "db1\\SQLEXPRESS"},
      {kJobs, "APP", "Quorvex"},
      {kJobs, "Connect Timeout", ""},
      {"Password=", "Password", ""},
      {"Password=a b ", "Password", "a b "},  // unquoted values are kept as written
      {"  Password  =x", "Password", "x"},    // names are trimmed
      {"Password=\"a;b\"", "Password", "a;b"},
      {"Password=\"say \"\"hi\"\"\"", "Password", "say \"hi\""},
      {"Password='it''s;ok'", "Password", "it's;ok"},
      {"Password={a;b}}c}", "Password", "a;b}c"},
      {"Password= \"q\" ;", "Password", "q"},
      {";;Password=x;;", "Password", "x"},
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

TEST(SqlServerDriver, FirstInstalledInOrderOfPreference) {
  using List = std::vector<std::string>;
  EXPECT_EQ(ChooseSqlServerDriver(
                {"FreeTDS", "ODBC Driver 17 for SQL Server", "ODBC Driver 18 for SQL Server"}),
            "ODBC Driver 18 for SQL Server");
  EXPECT_EQ(
      ChooseSqlServerDriver({"PostgreSQL Unicode", "FreeTDS", "ODBC Driver 17 for SQL Server"}),
      "ODBC Driver 17 for SQL Server");
  EXPECT_EQ(ChooseSqlServerDriver({"PostgreSQL ANSI", "FreeTDS"}), "FreeTDS");
  EXPECT_EQ(ChooseSqlServerDriver(List{"PostgreSQL Unicode", "freetds"}), std::nullopt);
  EXPECT_EQ(ChooseSqlServerDriver(List{}), std::nullopt);
}

TEST(SqlServerOdbcString, ServerFormsPerDriver) {
  struct Case {
    const char* driver;
    const char* server;
    const char* expected;
  };
  const Case cases[] = {
      {"ODBC Driver 18 for SQL Server", "db1",
       "DRIVER={ODBC Driver 18 for SQL Server};SERVER=db1;DATABASE=EMPRESAS;UID=sa;PWD=pw;"
       "APP=Quorvex;Encrypt=Optional"},
      {"ODBC Driver 18 for SQL Server", "db1\\SQLEXPRESS",
       "DRIVER={ODBC Driver 18 for SQL Server};SERVER=db1\\SQLEXPRESS;DATABASE=EMPRESAS;UID=sa;"
       "PWD=pw;APP=Quorvex;Encrypt=Optional"},
      {"ODBC Driver 17 for SQL Server", "10.0.0.5,1444",
       "DRIVER={ODBC Driver 17 for SQL Server};SERVER=10.0.0.5,1444;DATABASE=EMPRESAS;UID=sa;"
       "PWD=pw;APP=Quorvex"},
      {"FreeTDS", "db1", "DRIVER={FreeTDS};SERVER=db1;DATABASE=EMPRESAS;UID=sa;PWD=pw;APP=Quorvex"},
      {"FreeTDS", "db1\\SQLEXPRESS",
       "DRIVER={FreeTDS};SERVER=db1\\SQLEXPRESS;DATABASE=EMPRESAS;UID=sa;PWD=pw;APP=Quorvex"},
      {"FreeTDS", "10.0.0.5, 1444",
       "DRIVER={FreeTDS};SERVER=10.0.0.5;PORT=1444;DATABASE=EMPRESAS;UID=sa;PWD=pw;APP=Quorvex"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.driver) + " " + c.server);
    EXPECT_EQ(BuildSqlServerOdbcString(c.driver, {c.server, "EMPRESAS", "sa", "pw", "Quorvex"}),
              c.expected);
  }
}

TEST(SqlServerOdbcString, BracesValuesThatNeedThem) {
  EXPECT_EQ(BuildSqlServerOdbcString("FreeTDS", {"db1", "", "sa", "p;w}d", "Quorvex"}),
            "DRIVER={FreeTDS};SERVER=db1;UID=sa;PWD={p;w}}d};APP=Quorvex");
  EXPECT_EQ(BuildSqlServerOdbcString("FreeTDS", {"db1", "My Db", "sa", "", ""}),
            "DRIVER={FreeTDS};SERVER=db1;DATABASE=My Db;UID=sa;PWD=");
  struct Case {
    const char* value;
    const char* expected;
  };
  const Case cases[] = {
      {"plain", "plain"}, {"", ""},        {"a=b", "a=b"},       {"a;b", "{a;b}"},
      {"{x", "{{x}"},     {"x}", "{x}}}"}, {" lead", "{ lead}"}, {"trail ", "{trail }"}};
  for (const Case& c : cases) EXPECT_EQ(OdbcValue(c.value), c.expected) << c.value;
}

TEST(DsnOdbcString, PassesUserAndPasswordOnly) {
  EXPECT_EQ(BuildDsnOdbcString("QuorvexPgTest", "quorvex", "pw"),
            "DSN=QuorvexPgTest;UID=quorvex;PWD=pw");
  EXPECT_EQ(BuildDsnOdbcString("Local", "", ""), "DSN=Local");
  EXPECT_EQ(BuildDsnOdbcString("Local", "u", "a;b"), "DSN=Local;UID=u;PWD={a;b}");
}

TEST(TranslateTopToLimit, RewritesOnlyPlainTop) {
  struct Case {
    const char* in;
    const char* out;
  };
  const Case cases[] = {
      {" SELECT TOP 1   Server_Id  FROM Transaccion_Uso  ORDER BY Fecha DESC ",
       " SELECT Server_Id  FROM Transaccion_Uso  ORDER BY Fecha DESC LIMIT 1"},
      {"select top 10 * from t;", "select * from t LIMIT 10"},
      {"SELECT\tTOP (5) a FROM t", "SELECT a FROM t LIMIT 5"},
      // left for the database to judge
      {"SELECT TOP 5 PERCENT a FROM t", "SELECT TOP 5 PERCENT a FROM t"},
      {"SELECT TOP 5 WITH TIES a FROM t ORDER BY a", "SELECT TOP 5 WITH TIES a FROM t ORDER BY a"},
      {"SELECT TOP @n a FROM t", "SELECT TOP @n a FROM t"},
      {"SELECT TOP 1 a FROM t LIMIT 3", "SELECT TOP 1 a FROM t LIMIT 3"},
      {"SELECT TOPIC FROM t", "SELECT TOPIC FROM t"},
      {"SELECT top FROM t", "SELECT top FROM t"},
      {"UPDATE t SET a = 1", "UPDATE t SET a = 1"},
      {"SELECTTOP 1 a", "SELECTTOP 1 a"},
  };
  for (const Case& c : cases) EXPECT_EQ(TranslateTopToLimit(c.in), c.out) << c.in;
}

}  // namespace
}  // namespace quorvex
