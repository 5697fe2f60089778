#include "util/utf8.h"

#include <gtest/gtest.h>

namespace quorvex {
namespace {

// Every well-formed length decodes and encodes back to the same bytes;
// every kind of broken sequence decodes to nothing.
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
      {"NUL", std::string_view("\0", 1), 0, 1},
      {"stray continuation", "\x80", 0, 0},
      {"overlong two", "\xC0\xAF", 0, 0},
      {"overlong three", "\xE0\x80\xAF", 0, 0},
      {"surrogate", "\xED\xA0\x80", 0, 0},
      {"past U+10FFFF", "\xF4\x90\x80\x80", 0, 0},
      {"unused lead", "\xF8\x88\x80\x80\x80", 0, 0},
      {"cut short", "\xE2\x82", 0, 0},
      {"bad continuation", "\xE2\x28\xAC", 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Utf8Char decoded = DecodeUtf8(c.bytes, 0);
    EXPECT_EQ(decoded.code, c.code);
    EXPECT_EQ(decoded.length, c.length);
    EXPECT_EQ(FirstInvalidUtf8(c.bytes), c.length == 0 ? 0 : std::string_view::npos);
    if (c.length == 0) continue;
    std::string encoded;
    AppendUtf8(c.code, encoded);
    EXPECT_EQ(encoded, c.bytes);
  }
}

}  // namespace
}  // namespace quorvex
