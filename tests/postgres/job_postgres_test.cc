// The real QuorvexServer on the throw-away PostgreSQL server, through the
// odbc: data source the harness wrote.
#include <gtest/gtest.h>

#include <utility>

#include "job/password_cipher.h"
#include "job/principal.h"
#include "support/installation.h"
#include "support/loopback.h"

namespace quorvex {
namespace {

using testing::Installation;

// The settings of a run on serverdb, logging in as user with password.
std::string Settings(const std::string& serverdb, const std::string& password,
                     const std::string& user = "quorvex") {
  PasswordCipher cipher;
  cipher.SetKey(InstallationPasswordKey());
  return "[CONEXION]\nSERVERDB=" + serverdb + "\nUSER-ID=" + user +
         "\nPASSWORD=" + cipher.Encode(password) + "\nDATABASE=quorvex_test\n";
}

// Each row: SERVERDB, password, and the words the one error entry must hold
// (none: the run reaches its end without an error). SERVERDB keeps the
// blanks around its value; the backend prefix is found all the same.
TEST(JobOnPostgresTest, OpensTheSessionOrSaysWhyOnce) {
  const struct {
    const char* serverdb;
    const char* password;
    const char* expected;
  } cases[] = {
      {"\" odbc:QuorvexPgTest  \"", "quorvex", nullptr},
      {"\"  sqlite:database.sqlite3 \"", "quorvex", nullptr},
      {"odbc:QuorvexPgTest", "wrong", "password authentication failed for user \"quorvex\""},
      {"odbc:QuorvexPgDown", "quorvex", "Connection refused"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.serverdb);
    Installation install;
    install.WriteSettings(Settings(c.serverdb, c.password));
    const auto result = install.RunJob();
    EXPECT_EQ(result.exit_code, c.expected ? kExitSettingsOrDatabase : kExitRunFinished)
        << result.output;
    const auto events = install.Events();
    if (!c.expected) {
      for (const auto& e : events) EXPECT_NE(e.type, 1) << e.message;
      continue;
    }
    ASSERT_EQ(events.size(), 1u) << result.output;
    EXPECT_EQ(events[0].type, 1);
    EXPECT_NE(events[0].message.find(c.expected), std::string::npos) << events[0].message;
  }
}

// Passwords holding the characters that connection strings treat
// specially, on every backend, also where a *PASSWORD* written into
// SERVERDB or USER-ID has put it: whatever the run makes of them, no piece
// of the password reaches an event entry or standard error.
TEST(JobOnPostgresTest, PasswordNeverReachesAnEntryOrStandardError) {
  const std::pair<std::string, std::string> backends[] = {
      {"sqlite:database.sqlite3", "quorvex"},
      {"odbc:QuorvexPgTest", "quorvex"},
      {"127.0.0.1," + std::to_string(testing::ClosedLoopbackPort()), "quorvex"},  // FreeTDS
      {"sqlite:*PASSWORD*", "quorvex"},
      {"odbc:QuorvexPgTest", "x*PASSWORD*"},
  };
  const char* const pieces[] = {"Kq7w", "Zx4v", "Pj9m"};  // never to be shown
  const char* const passwords[] = {
      "\"Kq7w;Zx4v", "'Kq7w;Zx4v=Pj9m", "{Kq7w;Zx4v",      "Kq7w}Zx4v;Pj9m",
      "Kq7w;Zx4v",   "Kq7w=Zx4v;Pj9m=", "Kq7w\"Zx4v'Pj9m", "Kq7w;Zx4v='Pj9m'x",
  };
  for (const auto& [backend, user] : backends) {
    for (const char* password : passwords) {
      SCOPED_TRACE(backend + " " + user + " " + password);
      Installation install;
      install.WriteSettings(Settings(backend, password, user));
      const auto result = install.RunJob();
      std::string seen = result.output;
      for (const auto& e : install.Events()) seen += e.message + "\n";
      for (const char* piece : pieces) EXPECT_EQ(seen.find(piece), std::string::npos) << seen;
    }
  }
}

}  // namespace
}  // namespace quorvex
