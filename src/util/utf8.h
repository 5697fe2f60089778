// UTF-8 as the program reads and writes it: only the well-formed sequences
// of Unicode count, so an overlong form, a surrogate or a value past
// U+10FFFF is as broken as a stray continuation byte.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quorvex {

struct Utf8Char {
  char32_t code = 0;       // the character; 0 when length is 0
  std::size_t length = 0;  // its bytes, 1 to 4; 0 for no well-formed sequence
};

// The character whose sequence starts at text[at]. REQUIRES: at < text.size().
Utf8Char DecodeUtf8(std::string_view text, std::size_t at);

// Offset of the first byte that starts no well-formed sequence, or npos when
// all of text is UTF-8.
std::size_t FirstInvalidUtf8(std::string_view text);

// Appends code as UTF-8. REQUIRES: code is at most 0x10FFFF and no
// surrogate.
void AppendUtf8(char32_t code, std::string& out);

// Appends text as a JSON string, between double quotes: '"', '\\' and
// the control characters escaped, every byte that starts no well-formed
// UTF-8 sequence written as '?'.
void AppendJsonString(std::string& out, std::string_view text);

}  // namespace quorvex
