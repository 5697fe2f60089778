#include "text/locale_number.h"

#include <gtest/gtest.h>

#include <clocale>
#include <optional>
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

// Each row: the LC_NUMERIC locale, the text, the number it reads as and the
// whole number of 16 bits it rounds to (none: refused). A half goes to the
// even neighbour; -32768..32767 fit, nothing else.
TEST(LocaleNumberTest, ReadsNumbersWithTheLocalesSeparators) {
  constexpr std::nullopt_t no = std::nullopt;
  const struct {
    const char* locale;
    const char* text;
    std::optional<double> value;
    std::optional<int> integer16;
  } cases[] = {
      {"C", " 0.63", 0.63, 1},
      {"C", "  -1  ", -1, -1},
      {"C", "+3.5", 3.5, 4},
      {"C", "2.5E-1", 0.25, 0},
      {"C", ".5", 0.5, 0},
      {"C", "2.5", 2.5, 2},
      {"C", "-2.5", -2.5, -2},
      {"C", "32767.4", 32767.4, 32767},
      {"C", "-32768", -32768, -32768},
      {"C", "32767.5", 32767.5, no},
      {"C", "-32769", -32769, no},
      {"C", "1e10", 1e10, no},
      {"C", "", no, no},
      {"C", "-", no, no},
      {"C", "12ms", no, no},
      {"C", "\t12", no, no},
      {"C", "12\r\n", no, no},
      {"C", "0,63", no, no},
      {kComma, " 0,63", 0.63, 1},
      {kComma, "1.234,5", 1234.5, 1234},
      {kComma, "2,5", 2.5, 2},
      {kComma, "3,5", 3.5, 4},
      {kComma, "0,63,1", no, no},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.locale) + " [" + c.text + "]");
    ASSERT_NE(std::setlocale(LC_NUMERIC, c.locale), nullptr);
    EXPECT_EQ(IsNumeric(c.text), c.value.has_value());
    if (c.value) {
      EXPECT_DOUBLE_EQ(ToDouble(c.text), *c.value);
    } else {
      EXPECT_THROW(ToDouble(c.text), NumberConversionError);
    }
    if (c.integer16) {
      EXPECT_EQ(ToInteger16(c.text), *c.integer16);
    } else {
      EXPECT_THROW(ToInteger16(c.text), NumberConversionError);
    }
  }
  std::setlocale(LC_NUMERIC, "C");
}

}  // namespace
}  // namespace quorvex
