// The driver manager's own diagnostic reaches the caller unchanged.
#include <gtest/gtest.h>

#include <string>

#include "database/database.h"

namespace quorvex {
namespace {

TEST(OdbcSession, UnknownDataSourceNameIsReportedByTheDriverManager) {
  try {
    OpenConnection("User ID=u;Password=p;Data Source=odbc:NoSuchQuorvexDsn", "/");
    FAIL() << "opened";
  } catch (const DatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("[unixODBC]"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("not found"), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace quorvex
