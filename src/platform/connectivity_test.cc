#include "platform/connectivity.h"

#include <gtest/gtest.h>

#include "probe_test_support.h"

namespace quorvex {
namespace {

TEST(CanConnectTest, OpensOnlyWhereSomeoneListens) {
  testing::LoopbackListener listener;
  const std::string open = std::to_string(listener.port());
  const std::string closed = std::to_string(testing::ClosedLoopbackPort());
  const std::pair<std::string, bool> cases[] = {
      {"http://127.0.0.1:" + open + "/timbrado/service.asmx", true},
      {"HTTPS://localhost:" + open, true},
      {"127.0.0.1:" + open + "/x", true},  // without a scheme, still its own port
      {"http://127.0.0.1:" + closed + "/x", false},
      {"http://exa mple/", false},
  };
  for (const auto& [url, up] : cases)
    EXPECT_EQ(CanConnect(url, std::chrono::seconds(2)), up) << url;
}

}  // namespace
}  // namespace quorvex
