// The real QuorvexServer on the throw-away PostgreSQL server, through the
// odbc: data source the harness wrote.
#include <gtest/gtest.h>

#include "job/password_cipher.h"
#include "job/principal.h"
#include "support/installation.h"
#include "support/loopback.h"

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

// A whole run through the odbc: data source and on the embedded database,
// with the blanks SERVERDB keeps around its value: the backend prefix is
// found all the same.
TEST(JobOnPostgresTest, RunsToTheEndWithBlanksAroundTheBackendPrefix) {
  for (const char* serverdb : {"\"  sqlite:database.sqlite3 \"", "\" odbc:QuorvexPgTest  \""}) {
    SCOPED_TRACE(serverdb);
    Installation install;
    install.WriteSettings(std::string("[CONEXION]\nSERVERDB=") + serverdb +
                          "\nUSER-ID=quorvex\nPASSWORD=" + Encoded("quorvex") +
                          "\nDATABASE=quorvex_test\n");
    const auto result = install.RunJob();
    EXPECT_EQ(result.exit_code, kExitRunFinished) << result.output;
    for (const auto& e : install.Events()) EXPECT_NE(e.type, 1) << e.message;
  }
}

// Passwords holding the characters that connection strings treat
// specially, on every backend: whatever the run makes of them, no piece of
// the password reaches an event entry or standard error.
TEST(JobOnPostgresTest, PasswordNeverReachesAnEntryOrStandardError) {
  const std::string backends[] = {
      "sqlite:database.sqlite3", "odbc:QuorvexPgTest",
      "127.0.0.1," + std::to_string(testing::ClosedLoopbackPort()),  // SQL Server through FreeTDS
  };
  // Pieces that must never show: the words around each special character.
  const char* const pieces[] = {"Kq7w", "Zx4v", "Pj9m"};
  const char* const passwords[] = {
      "\"Kq7w;Zx4v", "'Kq7w;Zx4v=Pj9m", "{Kq7w;Zx4v",      "Kq7w}Zx4v;Pj9m",
      "Kq7w;Zx4v",   "Kq7w=Zx4v;Pj9m=", "Kq7w\"Zx4v'Pj9m", "Kq7w;Zx4v='Pj9m'x",
  };
  for (const std::string& backend : backends) {
    for (const char* password : passwords) {
      SCOPED_TRACE(backend + " " + password);
      Installation install;
      install.WriteSettings("[CONEXION]\nSERVERDB=" + backend + "\nUSER-ID=quorvex\nPASSWORD=" +
                            Encoded(password) + "\nDATABASE=quorvex_test\n");
      const auto result = install.RunJob();
      std::string seen = result.output;
      for (const auto& e : install.Events()) seen += e.message + "\n";
      for (const char* piece : pieces) {
        EXPECT_EQ(seen.find(piece), std::string::npos) << piece << " shown in:\n" << seen;
      }
    }
  }
}

}  // namespace
}  // namespace quorvex
