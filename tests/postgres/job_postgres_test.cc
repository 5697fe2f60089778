// The real QuorvexServer on the throw-away PostgreSQL server, through the
// odbc: data source the harness wrote.
#include <gtest/gtest.h>

#include "job/password_cipher.h"
#include "job/principal.h"
#include "support/installation.h"

namespace quorvex {
namespace {

using testing::Installation;

std::string Encoded(const std::string& plain) {
  PasswordCipher cipher;
  cipher.SetKey(InstallationPasswordKey());
  return cipher.Encode(plain);
}

std::string PostgresSettings(const std::string& password) {
  return "[CONEXION]\nSERVERDB=odbc:QuorvexPgTest\nUSER-ID=quorvex\nPASSWORD=" + Encoded(password) +
         "\nDATABASE=quorvex_test\n";
}

TEST(JobOnPostgresTest, RunsToTheEndThroughAnOdbcDataSource) {
  Installation install(/*with_database=*/false);
  install.WriteSettings(PostgresSettings("quorvex"));
  const auto result = install.RunJob();
  EXPECT_EQ(result.exit_code, kExitRunFinished) << result.output;
  for (const auto& e : install.Events()) EXPECT_NE(e.type, 1) << e.message;
}

// A refused login and a server that is down: one error entry with the
// server's or the driver's words, and no job runs.
TEST(JobOnPostgresTest, OpenFailureIsOneErrorEntryAndNoJobRuns) {
  const struct {
    std::string settings;
    const char* expected;
  } cases[] = {
      {PostgresSettings("wrong password"), "password authentication failed for user \"quorvex\""},
      {"[CONEXION]\nSERVERDB=odbc:QuorvexPgDown\nUSER-ID=quorvex\nPASSWORD=" + Encoded("quorvex") +
           "\n",
       "Connection refused"},
  };
  for (const auto& c : cases) {
    Installation install(/*with_database=*/false);
    install.WriteSettings(c.settings);
    const auto result = install.RunJob();
    EXPECT_EQ(result.exit_code, kExitSettingsOrDatabase) << result.output;
    const auto events = install.Events();
    ASSERT_EQ(events.size(), 1u) << result.output;
    EXPECT_EQ(events[0].type, 1);
    EXPECT_NE(events[0].message.find(c.expected), std::string::npos) << events[0].message;
  }
}

}  // namespace
}  // namespace quorvex
