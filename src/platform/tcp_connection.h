// Name resolution and one TCP connection, each answered in words.
//
// The configuration test (quorvex-check) looks at the way to the central
// service one step at a time, so that an administrator learns which step
// fails: the host's name, then a TCP connection. Nothing is sent over the
// connection; it is closed as soon as it is open. The job itself reaches
// the service through the HTTP request (platform/http_request.h), which
// takes the same steps.
#pragma once

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

namespace quorvex {

// what() is the system's description of the failure.
class NetworkError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The addresses host has for TCP on port, as numeric text ("127.0.0.1",
// "::1"), in the resolver's order. An address given as numbers is its own
// answer. Throws NetworkError with the resolver's description when there
// is none.
std::vector<std::string> ResolveTcpHost(const std::string& host, const std::string& port);

// Opens a TCP connection to host on port within timeout, counted over all
// of host's addresses, which are tried in turn; closes it at once and
// returns the address that accepted. Throws NetworkError naming why the
// last address failed (refused, timed out, unreachable) or why the name
// did not resolve.
std::string ConnectTcp(const std::string& host, const std::string& port,
                       std::chrono::milliseconds timeout);

// A port of 127.0.0.1 that nothing listens on: one the system hands out
// for a socket that is then closed without listening, so that connections
// to it are refused. 0 when none can be had.
int ClosedLoopbackPort();

}  // namespace quorvex
