#include "platform/event_sink.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "eventlog/log.h"

namespace quorvex {
namespace {

TEST(EventSinkTest, JsonKeepsLineBreaksQuotesAndReplacesBrokenUtf8) {
  const EventEntry entry{"Quorvex", 1, 1003,
                         "Get_Transaccion_Uso()\r\nsaid \"no\"\\ \x01 \xC3\xB1 \xFF"};
  EXPECT_EQ(FormatEventJson(entry, "2026-12-05T10:00:00.000"),
            "{\"source\":\"Quorvex\",\"type\":1,\"id\":1003,"
            "\"message\":\"Get_Transaccion_Uso()\\r\\nsaid \\\"no\\\"\\\\ \\u0001 \xC3\xB1 ?\","
            "\"time\":\"2026-12-05T10:00:00.000\"}");
}

// The three entry points through the file sink, read back line by line;
// then sinks that cannot be written, which must not fail the caller.
TEST(EventSinkTest, EntryPointsDifferOnlyInTypeAndId) {
  const auto file = ::testing::TempDir() + "quorvex-events-" + std::to_string(getpid());
  setenv("QUORVEX_EVENT_LOG", file.c_str(), 1);
  LogInfo("m");
  LogWarning("m");
  LogError("m");
  std::ifstream lines(file);
  std::string line;
  for (const char* want : {"{\"source\":\"Quorvex\",\"type\":4,\"id\":1001,\"message\":\"m\",",
                           "{\"source\":\"Quorvex\",\"type\":2,\"id\":1002,\"message\":\"m\",",
                           "{\"source\":\"Quorvex\",\"type\":1,\"id\":1003,\"message\":\"m\","}) {
    ASSERT_TRUE(std::getline(lines, line));
    EXPECT_EQ(line.rfind(want, 0), 0u) << line;
  }
  EXPECT_FALSE(std::getline(lines, line));
  lines.close();  // Windows removes no file that is still open
  std::filesystem::remove(file);
  setenv("QUORVEX_EVENT_LOG", "/no-such-folder/events.jsonl", 1);
  LogError("lost on purpose");
  setenv("QUORVEX_EVENT_LOG", ::testing::TempDir().c_str(), 1);  // a folder, not a file
  LogWarning("lost on purpose");
  unsetenv("QUORVEX_EVENT_LOG");
}

}  // namespace
}  // namespace quorvex
