#include "util/string_util.h"

#include <gtest/gtest.h>

#include <functional>

namespace quorvex {
namespace {

// Each trim strips exactly its own characters, at both ends and nowhere else.
TEST(StringUtilTest, EachTrimStripsExactlyItsCharacters) {
  using Trim = std::function<std::string(std::string_view)>;
  const Trim spaces = [](std::string_view t) { return TrimSpaces(t); };
  const Trim line_breaks = [](std::string_view t) {
    return std::string(TrimBlanksAndLineBreaks(t));
  };
  const Trim whitespace = [](std::string_view t) { return std::string(TrimWhitespace(t)); };
  const struct {
    const char* name;
    const Trim& trim;
    const char* text;
    const char* expected;
  } cases[] = {
      {"spaces", spaces, "  \ta b\t  ", "\ta b\t"},
      {"spaces, all", spaces, "   ", ""},
      {"blanks and line breaks", line_breaks, " \t\r\na  b\f\v \r\n", "a  b\f\v"},
      {"blanks and line breaks, all", line_breaks, "\r\n\t ", ""},
      {"whitespace", whitespace, " \t\r\n\v\fa \t b\v\f\r", "a \t b"},
      {"whitespace, nothing to strip", whitespace, "a", "a"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.trim(c.text), c.expected);
  }
}

// Letter case is that of a-z and A-Z only; the bytes of "é" and "É" differ.
TEST(StringUtilTest, LetterCaseIsAsciiOnly) {
  EXPECT_EQ(AsciiUpperCase("psping.exe -n 4 é"), "PSPING.EXE -N 4 é");
  const struct {
    const char* a;
    const char* b;
    bool equal;
  } cases[] = {{"Data Source", "DATA source", true},
               {"é", "É", false},
               {"st_url", "St_Url ", false},
               {"", "", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " / " + c.b);
    EXPECT_EQ(EqualsIgnoringAsciiCase(c.a, c.b), c.equal);
  }
}

}  // namespace
}  // namespace quorvex
