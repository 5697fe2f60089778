// Numbers as a person types them under the user's regional settings.
//
// The numeric test and conversion follow the current LC_NUMERIC locale:
// optional sign, digits with the locale's digit-group separator and decimal
// separator, optional exponent, spaces around the number. Used for the
// PING-MODE setting and for the averages the ping tools print.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string_view>

namespace quorvex {

class NumberConversionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// True when text reads as a number under the current LC_NUMERIC.
bool IsNumeric(std::string_view text);

// The number text stands for. Throws NumberConversionError ("Type
// mismatch: ...") when IsNumeric(text) is false.
double ToDouble(std::string_view text);

// The number rounded to the nearest whole number, a half going to the even
// neighbour. Throws NumberConversionError for a text that is not a number
// or a value outside -32768..32767 ("Overflow: ...").
std::int16_t ToInteger16(std::string_view text);

}  // namespace quorvex
