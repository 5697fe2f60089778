// The built probe tools as real child processes against loopback ports:
// the summary the latency sweep reads, in the user's language and with the
// user's decimal separator, and none when nothing answered.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "support/installation.h"
#include "support/loopback.h"

namespace quorvex::testing {
namespace {

TEST(ProbeToolsTest, SummaryFollowsTheUserLocale) {
  LoopbackListener listener;
  ASSERT_TRUE(listener.ok());
  const std::string open = std::to_string(listener.port());
  const std::string closed = std::to_string(ClosedLoopbackPort());
  const bool system_ping = RunProgram("/usr/bin/ping", {"-c", "1", "127.0.0.1"}).exit_code == 0;
  const std::string tcping = TCPING_EXE " -n 2 -i 0 127.0.0.1 ";
  const std::string psping = PSPING_EXE " -n 2 -i 0 -w 0 127.0.0.1:";
  const std::string ping = PING_STANDIN_EXE " -n 1 127.0.0.1";
  const struct {
    std::string command;
    const char* locale;
    const char* summary;  // what the output must hold; no average at all when empty
  } cases[] = {
      {tcping + open, "C", R"(Average = \d+\.\d{3}ms)"},
      {tcping + open, "de_DE.UTF-8", R"(Average = \d+,\d{3}ms)"},
      {tcping + closed, "C", ""},
      {psping + open, "C", R"(Average = \d+\.\d{2}ms)"},
      {psping + open, "es_ES.UTF-8", R"(Average = \d+,\d{2}ms)"},
      {psping + closed, "C", ""},
      {ping, "es_ES.UTF-8", R"(Media = \d+ms)"},
      {ping, "C", R"(Average = \d+ms)"},
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
