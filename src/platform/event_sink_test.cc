#include "platform/event_sink.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "eventlog/log.h"

namespace quorvex {
namespace {

TEST(EventSinkTest, JsonKeepsLineBreaksQuotesAndReplacesBrokenUtf8) {
  const EventEntry entry{"Quorvex", 1, 1003, "Get_Transaccion_Uso()\r\nsaid \"no\"\\ \x01 \xC3\xB1 \xFF"};
  EXPECT_EQ(FormatEventJson(entry, "2026-12-05T10:00:00.000"),
            "{\"source\":\"Quorvex\",\"type\":1,\"id\":1003,"
            "\"message\":\"Get_Transaccion_Uso()\\r\\nsaid \\\"no\\\"\\\\ \\u0001 \xC3\xB1 ?\","
            "\"time\":\"2026-12-05T10:00:00.000\"}");
}

class EventFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("quorvex-events-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    file_ = dir_ / "events.jsonl";
    ::setenv("QUORVEX_EVENT_LOG", file_.c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("QUORVEX_EVENT_LOG");
    std::filesystem::remove_all(dir_);
  }
  std::string Content() const {
    std::ifstream in(file_);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::filesystem::path dir_;
  std::filesystem::path file_;
};

TEST_F(EventFileTest, EntryPointsDifferOnlyInTypeAndId) {
  LogInfo("m");
  LogWarning("m");
  LogError("m");
  LogInfo("");
  std::istringstream lines(Content());
  std::string line;
  const char* expected[] = {"\"type\":4,\"id\":1001,\"message\":\"m\"",
                            "\"type\":2,\"id\":1002,\"message\":\"m\"",
                            "\"type\":1,\"id\":1003,\"message\":\"m\"",
                            "\"type\":4,\"id\":1001,\"message\":\"\""};
  for (const char* want : expected) {
    ASSERT_TRUE(std::getline(lines, line));
    EXPECT_NE(line.find(want), std::string::npos) << line;
    EXPECT_EQ(line.rfind("{\"source\":\"Quorvex\",", 0), 0u) << line;
  }
  EXPECT_FALSE(std::getline(lines, line));
}

TEST_F(EventFileTest, UnwritableSinkNeverFailsTheCaller) {
  ::setenv("QUORVEX_EVENT_LOG", (dir_ / "no-such-folder" / "events.jsonl").c_str(), 1);
  LogError("lost on purpose");
  ::setenv("QUORVEX_EVENT_LOG", dir_.c_str(), 1);  // a folder, not a file
  LogWarning("lost on purpose");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "no-such-folder"));
}

}  // namespace
}  // namespace quorvex
