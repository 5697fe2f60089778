#include "probe/reply_text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <limits>
#include <stdexcept>

#include "platform/locale_number.h"

namespace quorvex {
namespace {

TEST(TextBetweenTest, CutsBetweenTheFirstStartAndTheNextEnd) {
  const struct {
    const char* text;
    const char* start;
    const char* end;
    const char* expected;
  } cases[] = {
      {"Minimum = 0.51ms, Maximum = 0.80ms, Average = 0.63ms", "Average =", "ms", " 0.63"},
      {"Average = 1ms\nAverage = 2ms", "Average =", "ms", " 1"},
      {"Average = 7.5 ms", "Average =", "ms", " 7.5 "},
      {"no summary here", "Average =", "ms", ""},
      {"Average = 4", "Average =", "ms", ""},
      {"ms before Average = 4", "Average =", "ms", ""},
      {"Average =ms", "Average =", "ms", ""},
      {"Average = slow ms", "Average =", "ms", " slow "},
      {"average = 4ms", "Average =", "ms", ""},
      {"Media = 12ms", "Media =", "ms", " 12"},
      {"Promedio = 3ms, Media = 12ms", "Media =", "ms", " 12"},
      // The end marker is searched from the start of the start marker.
      {"Xms= 5ms", "Xms=", "ms", ""},
      {"", "Average =", "ms", ""},
      {"", "", "", ""},
      {"abc", "", "c", "ab"},
      {"abc", "a", "", ""},
      {"abc", "", "", ""},
      {"Average = \xc2\xb5s 3ms", "Average =", "ms", " \xc2\xb5s 3"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TextBetween(c.text, c.start, c.end), c.expected)
        << "text: " << c.text << " start: " << c.start << " end: " << c.end;
  }
}

TEST(TrimSpacesTest, RemovesSpacesOnly) {
  EXPECT_EQ(TrimSpaces("  a b  "), "a b");
  EXPECT_EQ(TrimSpaces("\t a \r\n"), "\t a \r\n");
  EXPECT_EQ(TrimSpaces("   "), "");
  EXPECT_EQ(TrimSpaces(""), "");
}

TEST(HostFromUrlTest, StripsSchemesAndPath) {
  const struct {
    const char* url;
    const char* host;
  } cases[] = {
      {"https://timbrado.example.com/servicio/timbrar.asmx", "timbrado.example.com"},
      {"http://timbrado.example.com", "timbrado.example.com"},
      {"timbrado.example.com", "timbrado.example.com"},
      {"timbrado.example.com/x/y", "timbrado.example.com"},
      {"http://127.0.0.1:8080/x", "127.0.0.1:8080"},
      {"HTTPS://timbrado.example.com/x", "HTTPS:"},
      {"ftp://host/x", "ftp:"},
      {" http://host /x", " host "},
      {"http://a.com/http://b.com", "a.com"},
      {"https://http://host/", "host"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(HostFromUrl(c.url), c.host) << c.url;
}

TEST(SqlNumberTest, WritesPlainDecimalsWithAFullStop) {
  const struct {
    double value;
    const char* text;
  } cases[] = {
      {-1, "-1"},
      {12, " 12"},
      {0.63, " 0.63"},
      {0, " 0"},
      {-0.0, " 0"},
      {1e-7, " 0.0000001"},
      {1e21, " 1000000000000000000000"},
      {123.456, " 123.456"},
      {-2.5, "-2.5"},
  };
  for (const auto& c : cases) EXPECT_EQ(SqlNumber(c.value), c.text) << c.value;
  EXPECT_THROW(SqlNumber(std::numeric_limits<double>::infinity()), std::invalid_argument);
  EXPECT_THROW(SqlNumber(std::numeric_limits<double>::quiet_NaN()), std::invalid_argument);
}

TEST(SqlNumberTest, IgnoresADecimalCommaLocale) {
  const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
  if (std::setlocale(LC_NUMERIC, "es_ES.utf8") == nullptr) GTEST_SKIP() << "no es_ES locale";
  EXPECT_EQ(SqlNumber(0.63), " 0.63");
  // A reply read under that locale turns into the same literal.
  EXPECT_EQ(SqlNumber(ToDouble(" 0,63")), " 0.63");
  std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(SqlQuotedTest, DoublesSingleQuotes) {
  EXPECT_EQ(SqlQuoted("SRV-1"), "SRV-1");
  EXPECT_EQ(SqlQuoted("O'Brien"), "O''Brien");
  EXPECT_EQ(SqlQuoted("'; DROP TABLE x; --'"), "''; DROP TABLE x; --''");
  EXPECT_EQ(SqlQuoted(""), "");
}

}  // namespace
}  // namespace quorvex
