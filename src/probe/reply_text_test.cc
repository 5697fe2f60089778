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
      {"Average = 7.5 ms", "Average =", " 7.5 "},
      {"no summary here", "Average =", ""},
      {"ms before Average = 4", "Average =", ""},
      {"Promedio = 3ms, Media = 12ms", "Media =", " 12"},
      {"Xms= 5ms", "Xms=", ""},  // the end is searched from the start marker on
  };
  for (const auto& c : cases) EXPECT_EQ(TextBetween(c.text, c.start, "ms"), c.expected) << c.text;
}

TEST(HostFromUrlTest, StripsSchemesAndPath) {
  const struct {
    const char* url;
    const char* host;
  } cases[] = {
      {"https://timbrado.example.com/servicio/timbrar.asmx", "timbrado.example.com"},
      {"http://127.0.0.1:8080/x", "127.0.0.1:8080"},
      {"HTTPS://timbrado.example.com/x", "HTTPS:"},
      {"https://http://host/", "host"},
  };
  for (const auto& c : cases) EXPECT_EQ(HostFromUrl(c.url), c.host) << c.url;
}

// The literal of the sweep's UPDATE: a full stop whatever the locale.
TEST(SqlNumberTest, WritesPlainDecimalsWithAFullStop) {
  ASSERT_NE(std::setlocale(LC_NUMERIC, "de_DE.UTF-8"), nullptr);
  const struct {
    double value;
    const char* text;
  } cases[] = {{-1, "-1"},   {12, " 12"},          {0.63, " 0.63"},
               {-0.0, " 0"}, {1e-7, " 0.0000001"}, {1e21, " 1000000000000000000000"}};
  for (const auto& c : cases) EXPECT_EQ(SqlNumber(c.value), c.text) << c.value;
  EXPECT_THROW(SqlNumber(std::numeric_limits<double>::infinity()), std::invalid_argument);
  std::setlocale(LC_NUMERIC, "C");
}

}  // namespace
}  // namespace quorvex
