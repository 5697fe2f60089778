// What only the ODBC session shows: its command time-out, against the throw-away PostgreSQL
// server of pg_harness.sh (data source "QuorvexPgTest", found through
// ODBCINI). The job's statements on this server are run by the reports'
// and the whole job's tests.
#include <gtest/gtest.h>

#include <string>

#include "database/database.h"

namespace quorvex {
namespace {

TEST(PostgresSession, CommandTimeoutCancelsAStatement) {
  auto db = OpenConnection("Password=quorvex;User ID=quorvex;Data Source=odbc:QuorvexPgTest", "/");
  db->SetCommandTimeout(std::chrono::seconds(1));
  try {
    db->Execute("SELECT pg_sleep(60)");
    FAIL() << "the statement must be cancelled";
  } catch (const DatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("cancel"), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace quorvex
