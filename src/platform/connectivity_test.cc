#include "platform/connectivity.h"

#include <gtest/gtest.h>

#include "probe_test_support.h"

namespace quorvex {
namespace {

using testing::ClosedLoopbackPort;
using testing::LoopbackListener;

TEST(CanConnectTest, OpensOnlyWhereSomeoneListens) {
  LoopbackListener listener;
  ASSERT_TRUE(listener.ok());
  const std::string open = std::to_string(listener.port());
  const std::string closed = std::to_string(ClosedLoopbackPort());
  const struct {
    std::string url;
    bool expected;
  } cases[] = {
      {"http://127.0.0.1:" + open + "/timbrado/service.asmx", true},
      {"https://127.0.0.1:" + open, true},
      {"HTTP://127.0.0.1:" + open + "/x", true},
      {"http://localhost:" + open + "/x", true},
      // Without a scheme the URL is still read, with its own port.
      {"127.0.0.1:" + open + "/x", true},
      {"http://127.0.0.1:" + closed + "/x", false},
      {"127.0.0.1:" + closed, false},
      {"http://", false},
      {"", false},
      {"http://127.0.0.1:99999/", false},
      {"http://exa mple/", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CanConnect(c.url, std::chrono::seconds(2)), c.expected) << c.url;
  }
}

TEST(CanConnectTest, ReadsBracketedIpv6Hosts) {
  LoopbackListener listener("::1");
  if (!listener.ok()) GTEST_SKIP() << "no IPv6 loopback here";
  EXPECT_TRUE(CanConnect("http://[::1]:" + std::to_string(listener.port()) + "/x"));
}

}  // namespace
}  // namespace quorvex
