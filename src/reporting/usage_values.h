// What a usage report document can carry.
//
// The report copies the values of Transaccion and Server_Id into its rows
// as they are, without escaping. A value that XML cannot carry at all (a
// NUL, another control character, bytes that are not UTF-8) stops the
// call before anything is sent; one holding '"', '<' or '&' makes a
// document the central service cannot read and refuses. Either way no
// usage is billed until the value is corrected, so the report names such
// rows instead of sending, and quorvex-check lists them beforehand.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quorvex {

// The largest usage document the report sends, like the limit on the
// answer; a larger one is not built.
inline constexpr std::size_t kMaxUsageDocumentBytes = std::size_t{16} << 20;

// What stands in the way of value as a row's attribute, in words that
// follow "the value" in a sentence ("holds a double quote"); empty when
// nothing does.
std::string UsageValueProblem(std::string_view value);

// value as an entry shows it: at most its first 40 characters, then
// "..." and the full length, every byte that is not printable UTF-8 as
// \xNN, between double quotes.
std::string ShownValue(std::string_view value);

// What an operator does about such rows, in a sentence.
std::string UsageValueAdvice();

}  // namespace quorvex
