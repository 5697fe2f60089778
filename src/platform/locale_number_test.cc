#include "platform/locale_number.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace quorvex {
namespace {

// Switches LC_NUMERIC for one test and puts the previous one back.
class NumericLocale {
 public:
  explicit NumericLocale(const char* name) {
    saved_ = std::setlocale(LC_NUMERIC, nullptr);
    active_ = std::setlocale(LC_NUMERIC, name) != nullptr;
  }
  ~NumericLocale() { std::setlocale(LC_NUMERIC, saved_.c_str()); }
  bool active() const { return active_; }

 private:
  std::string saved_;
  bool active_;
};

struct Case {
  const char* text;
  bool numeric;
  double value;
};

TEST(LocaleNumberTest, FullStopLocaleReadsToolReplies) {
  NumericLocale c("C");
  const Case cases[] = {
      {" 0.63", true, 0.63},   {"12", true, 12},       {"  -1  ", true, -1},
      {"+3.5", true, 3.5},     {"1e3", true, 1000},    {"2.5E-1", true, 0.25},
      {".5", true, 0.5},       {"5.", true, 5},        {"", false, 0},
      {"   ", false, 0},       {"-", false, 0},        {".", false, 0},
      {"abc", false, 0},       {"12ms", false, 0},     {"1e", false, 0},
      {"1 2", false, 0},       {"\t12", false, 0},     {"12\r\n", false, 0},
      {"0,63", false, 0},      {"--1", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(IsNumeric(c.text), c.numeric);
    if (c.numeric) {
      EXPECT_DOUBLE_EQ(ToDouble(c.text), c.value);
    } else {
      EXPECT_THROW(ToDouble(c.text), NumberConversionError);
    }
  }
}

TEST(LocaleNumberTest, CommaLocaleUsesItsOwnSeparators) {
  NumericLocale es("es_ES.UTF-8");
  if (!es.active()) GTEST_SKIP() << "locale es_ES.UTF-8 is not generated on this machine";
  EXPECT_DOUBLE_EQ(ToDouble(" 0,63"), 0.63);
  EXPECT_DOUBLE_EQ(ToDouble("1.234,5"), 1234.5);
  // Under a comma locale the full stop groups digits, as the user's
  // regional settings say.
  EXPECT_DOUBLE_EQ(ToDouble("0.63"), 63);
  EXPECT_FALSE(IsNumeric("0,63,1"));
}

TEST(LocaleNumberTest, Integer16RoundsHalfToEvenAndChecksRange) {
  NumericLocale c("C");
  EXPECT_EQ(ToInteger16("1"), 1);
  EXPECT_EQ(ToInteger16("2.5"), 2);
  EXPECT_EQ(ToInteger16("3.5"), 4);
  EXPECT_EQ(ToInteger16("-2.5"), -2);
  EXPECT_EQ(ToInteger16("32767.4"), 32767);
  EXPECT_EQ(ToInteger16("-32768"), -32768);
  EXPECT_THROW(ToInteger16("32767.5"), NumberConversionError);
  EXPECT_THROW(ToInteger16("-32769"), NumberConversionError);
  EXPECT_THROW(ToInteger16("1e10"), NumberConversionError);
  try {
    ToInteger16("tcping");
    FAIL() << "a word must not convert";
  } catch (const NumberConversionError& e) {
    EXPECT_NE(std::string(e.what()).find("\"tcping\""), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace quorvex
