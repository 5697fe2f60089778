#include "probe/reply_text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <limits>
#include <stdexcept>

namespace quorvex {
namespace {

// Cutting the average out of a tool's reply is read end to end in
// ping_tools_test.cc, hosts with ports and an upper-case scheme in the
// sweep's test; here every scheme is gone, however many.
TEST(HostFromUrlTest, StripsEverySchemeAndThePath) {
  EXPECT_EQ(HostFromUrl("https://http://host/servicio/timbrar.asmx"), "host");
}

// The literal of the sweep's UPDATE: a full stop whatever the locale.
TEST(SqlNumberTest, WritesPlainDecimalsWithAFullStop) {
#ifdef _WIN32
  ASSERT_NE(std::setlocale(LC_NUMERIC, "German_Germany"), nullptr);
#else
  ASSERT_NE(std::setlocale(LC_NUMERIC, "de_DE.UTF-8"), nullptr);
#endif
  const std::pair<double, const char*> cases[] = {
      {-1, "-1"},   {12, " 12"},          {0.63, " 0.63"},
      {-0.0, " 0"}, {1e-7, " 0.0000001"}, {1e21, " 1000000000000000000000"}};
  for (const auto& [value, text] : cases) EXPECT_EQ(SqlNumber(value), text) << value;
  EXPECT_THROW(SqlNumber(std::numeric_limits<double>::infinity()), std::invalid_argument);
  std::setlocale(LC_NUMERIC, "C");
}

}  // namespace
}  // namespace quorvex
