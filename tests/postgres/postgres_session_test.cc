// What only the ODBC session shows, against the throw-away PostgreSQL
// server of pg_harness.sh (data source "QuorvexPgTest", found through
// ODBCINI). The job's statements on this server are run by the reports'
// and the whole job's tests.
#include <gtest/gtest.h>

#include <string>

#include "platform/database.h"

namespace quorvex {
namespace {

TEST(PostgresSession, CommandTimeoutCancelsAStatementAndLongValuesComeBackWhole) {
  auto db = OpenConnection("Password=quorvex;User ID=quorvex;Data Source=odbc:QuorvexPgTest", "/");
  db->SetCommandTimeout(std::chrono::seconds(1));
  try {
    db->Execute("SELECT pg_sleep(60)");
    FAIL() << "the statement must be cancelled";
  } catch (const DatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("cancel"), std::string::npos) << e.what();
  }
  // A value longer than one read of the driver.
  std::string long_text;
  for (int i = 0; i < 5000; ++i) long_text += "abc";
  EXPECT_EQ(db->Execute("SELECT repeat('abc', 5000) AS t").Field("t"), long_text);
}

}  // namespace
}  // namespace quorvex
