#include "probe/reply_text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <limits>
#include <stdexcept>

namespace quorvex {
namespace {

// The tool replies themselves are read end to end in ping_tools_test.cc.
TEST(TextBetweenTest, CutsBetweenTheFirstStartAndTheNextEnd) {
  const struct {
    const char* text;
    const char* start;
    const char* expected;
  } cases[] = {
      {"Minimum = 0.51ms, Maximum = 0.80ms, Average = 0.63ms", "Average =", " 0.63"},
      {"no summary here", "Average =", ""},
      {"ms before Average = 4", "Average =", ""},
      {"Xms= 5ms", "Xms=", ""},  // the end is searched from the start marker on
  };
  for (const auto& c : cases) EXPECT_EQ(TextBetween(c.text, c.start, "ms"), c.expected) << c.text;
}

// The sweep's test sees the rest: ports kept, an upper-case scheme kept.
TEST(HostFromUrlTest, StripsSchemesAndPath) {
  EXPECT_EQ(HostFromUrl("https://timbrado.example.com/servicio/timbrar.asmx"),
            "timbrado.example.com");
  EXPECT_EQ(HostFromUrl("https://http://host/"), "host");
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
