// Text helpers of the latency probe: cutting a value out of a tool's
// summary, taking the host out of a server URL, and writing the values of
// the sweep's UPDATE statement.
//
// All of them are pure functions of their arguments and never throw except
// where stated.
#pragma once

#include <string>
#include <string_view>

namespace quorvex {

// What stands between the first start_marker in text and the first
// end_marker searched from the start of that start_marker (not from its
// end), compared with case. Empty when start_marker is absent, when
// end_marker is absent from there on or lies inside start_marker, or when
// text is empty. An empty start_marker matches at the first character; an
// empty end_marker matches where the search starts.
std::string TextBetween(std::string_view text, std::string_view start_marker,
                        std::string_view end_marker);

// The host part of a server URL: every "https://" is removed, then every
// "http://" (each in one pass, with case), and the rest is cut before its
// first "/". Nothing else changes: an upper-case scheme and a port stay.
std::string HostFromUrl(std::string_view url);

// A latency as a number literal of SQL: plain decimal notation with a full
// stop whatever the locale, the fewest digits that read back as the same
// double, never an exponent, one leading space when the value is zero or
// positive (" 12", " 0.63", "-1"). Throws std::invalid_argument for an
// infinite value or NaN, which have no literal.
std::string SqlNumber(double value);

// text for use between single quotes in SQL: each ' doubled.
std::string SqlQuoted(std::string_view text);

}  // namespace quorvex
