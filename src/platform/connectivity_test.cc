#include "platform/connectivity.h"

#include <gtest/gtest.h>

#include "probe_test_support.h"

namespace quorvex {
namespace {

// One table for both systems: the Windows build runs it against WinINet
// under wine, so each row is an answer the two give alike.
TEST(CanConnectTest, OpensOnlyWhereSomeoneListens) {
  testing::LoopbackListener listener;
  const std::string open = std::to_string(listener.port());
  const std::string closed = std::to_string(testing::ClosedLoopbackPort());
  const std::pair<std::string, bool> cases[] = {
      {"http://127.0.0.1:" + open + "/timbrado/service.asmx", true},
      {"HTTPS://localhost:" + open, true},
      {"ftp://127.0.0.1:" + open + "/", true},
      {"foo://127.0.0.1:" + open + "/", true},  // any scheme, with a port
      {"foo://127.0.0.1/", false},              // and without one
      {"http://user:pw@127.0.0.1:" + open + "/", true},
      {"http://127.0.0.1:" + open + "/a b", true},
      // Without a scheme there is no host.
      {"127.0.0.1:" + open + "/x", false},
      {"localhost:" + open, false},
      {"//127.0.0.1:" + open + "/", false},
      {" http://127.0.0.1:" + open + "/", false},
      {"http://127.0.0.1:" + closed + "/x", false},
      {"http://127.0.0.1:99999/", false},
  };
  for (const auto& [url, up] : cases)
    EXPECT_EQ(CanConnect(url, std::chrono::seconds(2)), up) << url;
}

}  // namespace
}  // namespace quorvex
