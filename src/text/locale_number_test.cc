#include "text/locale_number.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace quorvex {
namespace {

// A locale with a decimal comma. On Windows the separators are the user's
// regional settings (the "" locale), which its tests run with German.
#ifdef _WIN32
constexpr char kComma[] = "";
#else
constexpr char kComma[] = "de_DE.UTF-8";
#endif

// Each row: the LC_NUMERIC locale, the text, whether it reads as a number
// and the number it reads as.
TEST(LocaleNumberTest, ReadsNumbersWithTheLocalesSeparators) {
  const struct {
    const char* locale;
    const char* text;
    bool numeric;
    double value;
  } cases[] = {
      {"C", " 0.63", true, 0.63},
      {"C", "  -1  ", true, -1},
      {"C", "+3.5", true, 3.5},
      {"C", "2.5E-1", true, 0.25},
      {"C", ".5", true, 0.5},
      {"C", "", false, 0},
      {"C", "-", false, 0},
      {"C", "12ms", false, 0},
      {"C", "\t12", false, 0},
      {"C", "12\r\n", false, 0},
      {"C", "0,63", false, 0},
      {kComma, " 0,63", true, 0.63},
      {kComma, "1.234,5", true, 1234.5},
      {kComma, "0,63,1", false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.locale) + " [" + c.text + "]");
    ASSERT_NE(std::setlocale(LC_NUMERIC, c.locale), nullptr);
    EXPECT_EQ(IsNumeric(c.text), c.numeric);
    if (c.numeric) {
      EXPECT_DOUBLE_EQ(ToDouble(c.text), c.value);
    } else {
      EXPECT_THROW(ToDouble(c.text), NumberConversionError);
    }
  }
  std::setlocale(LC_NUMERIC, "C");
}

// A half goes to the even neighbour; -32768..32767 fit, nothing else.
TEST(LocaleNumberTest, Integer16RoundsHalfToEvenAndChecksRange) {
  const struct {
    const char* locale;
    const char* text;
    int value;  // 99999: refused
  } cases[] = {
      {"C", "2.5", 2},         {"C", "3.5", 4},         {"C", "-2.5", -2},
      {"C", "0.5", 0},         {kComma, "2,5", 2},      {kComma, "3,5", 4},
      {"C", "32767.4", 32767}, {"C", "-32768", -32768}, {"C", "32767.5", 99999},
      {"C", "-32769", 99999},  {"C", "1e10", 99999},    {"C", "tcping", 99999},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.locale) + " [" + c.text + "]");
    ASSERT_NE(std::setlocale(LC_NUMERIC, c.locale), nullptr);
    if (c.value == 99999) {
      EXPECT_THROW(ToInteger16(c.text), NumberConversionError);
    } else {
      EXPECT_EQ(ToInteger16(c.text), c.value);
    }
  }
  std::setlocale(LC_NUMERIC, "C");
}

}  // namespace
}  // namespace quorvex
