// What the callers' tests do not reach: each trim's characters, each broken UTF-8 form.
#include <gtest/gtest.h>

#include "util/string_util.h"
#include "util/utf8.h"

namespace quorvex {
namespace {

// Each trim strips exactly its own characters, at both ends and nowhere else.
TEST(StringUtilTest, EachTrimStripsExactlyItsCharacters) {
  const std::string_view text = " \t\r\n\v\f a b \f\v\n\r\t ";
  const struct {
    const char* name;
    std::string trimmed;
    const char* expected;
  } cases[] = {
      {"spaces", TrimSpaces(text), "\t\r\n\v\f a b \f\v\n\r\t"},
      {"blanks and line breaks", std::string(TrimBlanksAndLineBreaks(text)), "\v\f a b \f\v"},
      {"whitespace", std::string(TrimWhitespace(text)), "a b"},
      {"whitespace, nothing left", std::string(TrimWhitespace("\r\n")), ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.trimmed, c.expected);
  }
}

// Every well-formed length decodes; a broken form decodes to nothing, found as invalid.
TEST(Utf8Test, DecodesOnlyWellFormedSequences) {
  const struct {
    const char* name;
    std::string_view bytes;
    char32_t code;
    std::size_t length;
  } cases[] = {
      {"ASCII", "A", 0x41, 1},
      {"two bytes", "\xC3\xA9", 0xE9, 2},
      {"three bytes", "\xE2\x82\xAC", 0x20AC, 3},
      {"four bytes", "\xF0\x9F\x98\x80", 0x1F600, 4},
      {"stray continuation", "\x80", 0, 0},
      {"overlong two", "\xC0\xAF", 0, 0},
      {"surrogate", "\xED\xA0\x80", 0, 0},
      {"past U+10FFFF", "\xF4\x90\x80\x80", 0, 0},
      {"cut short", "\xE2\x82", 0, 0},
      {"bad continuation", "\xE2\x28\xAC", 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Utf8Char decoded = DecodeUtf8(c.bytes, 0);
    EXPECT_EQ(decoded.code, c.code);
    EXPECT_EQ(decoded.length, c.length);
    EXPECT_EQ(FirstInvalidUtf8(c.bytes), c.length == 0 ? 0 : std::string_view::npos);
  }
}

}  // namespace
}  // namespace quorvex
