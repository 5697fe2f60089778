// ODBC failure paths that need no database server: the driver manager's
// and FreeTDS's own diagnostics must reach the caller unchanged.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/database.h"
#include "platform/database_backends.h"

namespace quorvex {
namespace {

std::string OpenError(const std::string& connection_string) {
  try {
    OpenConnection(connection_string, "/");
  } catch (const DatabaseError& e) {
    return e.what();
  }
  return "opened";
}

bool HasFreeTds() {
  auto drivers = InstalledOdbcDrivers();
  return std::find(drivers.begin(), drivers.end(), "FreeTDS") != drivers.end();
}

TEST(OdbcSession, UnknownDataSourceNameIsReportedByTheDriverManager) {
  std::string error = OpenError("User ID=u;Password=p;Data Source=odbc:NoSuchQuorvexDsn");
  EXPECT_NE(error.find("[unixODBC]"), std::string::npos) << error;
  EXPECT_NE(error.find("not found"), std::string::npos) << error;
}

TEST(OdbcSession, FreeTdsRefusedPortFailsFastWithItsOwnDiagnostic) {
  if (!HasFreeTds()) GTEST_SKIP() << "tdsodbc is not installed";
  // Nothing listens on port 1 of the loopback interface: the connection is
  // refused at once, and FreeTDS says so in its own words.
  try {
    OpenOdbcConnection(
        BuildSqlServerOdbcString("FreeTDS", {"127.0.0.1,1", "EMPRESAS", "sa", "pw", "Quorvex"}),
        "sqlserver", false, std::chrono::seconds(5));
    FAIL() << "nothing listens there";
  } catch (const DatabaseError& e) {
    std::string error = e.what();
    EXPECT_NE(error.find("[FreeTDS]"), std::string::npos) << error;
  }
  // Through the job's own connection string, when FreeTDS is the SQL
  // Server driver installed first.
  if (ChooseSqlServerDriver(InstalledOdbcDrivers()) != "FreeTDS") return;
  std::string error = OpenError(
      "Provider=SQLOLEDB.1;Password=pw;Persist Security Info=True;User ID=sa;"
      "Initial Catalog=EMPRESAS;Data Source=127.0.0.1,1;APP=Quorvex");
  EXPECT_NE(error.find("[FreeTDS][SQL Server]Unable to connect"), std::string::npos) << error;
  // Each diagnostic record once, even when the driver repeats one.
  EXPECT_EQ(error.find("does not exist\n[FreeTDS][SQL Server]Unable to connect: Adaptive"),
            std::string::npos)
      << error;
}

}  // namespace
}  // namespace quorvex
