// Whether a TCP connection to the host of a URL can be made.
//
// The URL must open with a scheme and "://": "host/path" and "host:port"
// have none and get false. Blanks in the path are allowed, a blank before
// the scheme is not. A URL with a port is checked on that port; http and
// https without a port use 80 and 443, other schemes their usual port, and
// a scheme without one gets false. The host is resolved and its addresses
// are tried in turn until one accepts a connection, which is closed at
// once. Both platforms answer alike for the same URL (the rows of
// connectivity_test.cc).
#pragma once

#include <chrono>
#include <string_view>

namespace quorvex {

inline constexpr std::chrono::seconds kConnectTimeout{10};

// True when a connection opens within connect_timeout (counted over all
// addresses of the host; name resolution itself is not bounded), or within
// the system's own time-out where the system does not let the caller set
// one. False for a URL that does not parse, has no host or no known port, a
// host that does not resolve, or no address that accepts. Throws nothing
// but std::bad_alloc.
bool CanConnect(std::string_view url, std::chrono::milliseconds connect_timeout = kConnectTimeout);

}  // namespace quorvex
