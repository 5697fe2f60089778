// The small text helpers every room shares: which bytes count as blank, the
// trims, and letter case. Each is named after exactly the characters it
// treats; before writing another, look here.
//
// Letter case is ASCII only (a-z and A-Z): the texts compared and
// upper-cased are keywords, names and markers, and a byte of a multi-byte
// UTF-8 character is never a letter.
#pragma once

#include <string>
#include <string_view>

namespace quorvex {

// A space or a tab.
inline bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// A space, a tab, a carriage return or a line feed.
inline bool IsBlankOrLineBreak(char c) { return IsBlank(c) || c == '\r' || c == '\n'; }

// A space, a tab, a line feed, a vertical tab, a form feed or a carriage
// return (the white space of the C locale).
inline bool IsWhitespace(char c) { return IsBlankOrLineBreak(c) || c == '\v' || c == '\f'; }

// text without leading and trailing spaces; tabs and line breaks stay.
std::string TrimSpaces(std::string_view text);

// text without leading and trailing IsBlankOrLineBreak characters.
std::string_view TrimBlanksAndLineBreaks(std::string_view text);

// text without leading and trailing IsWhitespace characters.
std::string_view TrimWhitespace(std::string_view text);

// text with a-z turned into A-Z; every other byte as it is.
std::string AsciiUpperCase(std::string_view text);

// True when a and b are the same text once a-z and A-Z count as the same.
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);

// The fewest bytes to insert, delete or replace to turn a into b, a-z and
// A-Z counting as the same (the Levenshtein distance).
std::size_t EditDistanceIgnoringAsciiCase(std::string_view a, std::string_view b);

}  // namespace quorvex
