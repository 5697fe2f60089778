// The built probe tools as real child processes against loopback ports:
// the summary the latency sweep reads, with the user's decimal separator
// (the ping stand-in's in Spanish whatever the language), for IPv4 and IPv6
// hosts, and none when nothing answered.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "support/installation.h"
#include "support/loopback.h"

namespace quorvex::testing {
namespace {

TEST(ProbeToolsTest, SummaryFollowsTheUserLocale) {
  LoopbackListener listener, listener6("::1");
  ASSERT_TRUE(listener.ok() && listener6.ok());
  const std::string open = std::to_string(listener.port());
  const std::string open6 = std::to_string(listener6.port());
  const std::string closed = std::to_string(ClosedLoopbackPort());
  const std::string closed6 = std::to_string(ClosedLoopbackPort("::1"));
  const bool system_ping = RunProgram("/usr/bin/ping", {"-c", "1", "127.0.0.1"}).exit_code == 0;
  const std::string tcping = TCPING_EXE " -n 2 -i 0 ";
  const std::string psping = PSPING_EXE " -n 2 -i 0 -w 0 ";
  const std::string ping = PING_STANDIN_EXE " -n 1 127.0.0.1";
  const struct {
    std::string command;
    const char* locale;
    const char* summary;  // what the output must hold; no average at all when empty
  } cases[] = {
      {tcping + "127.0.0.1 " + open, "C", R"(Average = \d+\.\d{3}ms)"},
      {tcping + "127.0.0.1 " + open, "de_DE.UTF-8", R"(Average = \d+,\d{3}ms)"},
      {tcping + "127.0.0.1 " + closed, "C", ""},
      {tcping + "[::1] " + open6, "C", R"(Average = \d+\.\d{3}ms)"},
      {tcping + "::1 " + open6, "de_DE.UTF-8", R"(Average = \d+,\d{3}ms)"},
      {tcping + "[::1] " + closed6, "C", ""},
      {tcping + "[127.0.0.1] " + open, "C", ""},  // brackets hold IPv6 only
      {psping + "127.0.0.1:" + open, "C", R"(Average = \d+\.\d{2}ms)"},
      {psping + "127.0.0.1:" + open, "es_ES.UTF-8", R"(Average = \d+,\d{2}ms)"},
      {psping + "127.0.0.1:" + closed, "C", ""},
      {psping + "[::1]:" + open6, "es_ES.UTF-8", R"(Average = \d+,\d{2}ms)"},
      {psping + "[::1]:" + closed6, "C", ""},
      {ping, "es_ES.UTF-8", R"(Media = \d+ms)"},
      {ping, "C", R"(Media = \d+ms)"},
  };
  for (const auto& c : cases) {
    if (c.command == ping && !system_ping) continue;
    const ProcessResult run = RunProgram("/bin/sh", {"-c", c.command}, {{"LC_ALL", c.locale}});
    SCOPED_TRACE(c.command + " " + c.locale + "\n" + run.output);
    if (*c.summary) {
      EXPECT_EQ(run.exit_code, 0);
      EXPECT_TRUE(std::regex_search(run.output, std::regex(c.summary + std::string("\n"))));
    } else {
      EXPECT_NE(run.exit_code, 0);
      EXPECT_EQ(run.output.find("Average"), std::string::npos);
    }
  }
}

}  // namespace
}  // namespace quorvex::testing
