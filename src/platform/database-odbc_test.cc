// ODBC failure paths that need no database server: the driver manager's
// and FreeTDS's own diagnostics must reach the caller unchanged.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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

// A loopback port that nothing listens on: bound once to learn a free one,
// then let go, so connections to it are refused.
std::string ClosedLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), length);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return std::to_string(ntohs(address.sin_port));
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
  // Nothing listens on the port: the connection is refused at once, and
  // FreeTDS says so in its own words.
  const std::string server = "127.0.0.1," + ClosedLoopbackPort();
  try {
    OpenOdbcConnection(
        BuildSqlServerOdbcString("FreeTDS", {server, "EMPRESAS", "sa", "pw", "Quorvex"}),
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
      "Initial Catalog=EMPRESAS;Data Source=" + server + ";APP=Quorvex");
  EXPECT_NE(error.find("[FreeTDS][SQL Server]Unable to connect"), std::string::npos) << error;
  // Each diagnostic record once, even when the driver repeats one.
  EXPECT_EQ(error.find("does not exist\n[FreeTDS][SQL Server]Unable to connect: Adaptive"),
            std::string::npos)
      << error;
}

}  // namespace
}  // namespace quorvex
