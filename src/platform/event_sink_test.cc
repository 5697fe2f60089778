#include "platform/event_sink.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#endif

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

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

// The three entry points through the file sink, read back line by line.
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
  unsetenv("QUORVEX_EVENT_LOG");
}

// Each row: a QUORVEX_EVENT_LOG that is no log file or cannot be opened.
// The file takes no entry (so it goes to the system's log), the caller
// goes on at once, and nothing is written into a named pipe (with a
// reader, which lets a writer open it; without one, where opening it to
// write would wait for good).
TEST(EventSinkTest, WhatIsNoLogFileTakesNoEntry) {
  const std::string dir = ::testing::TempDir();
  const std::string plain = dir + "quorvex-plain-" + std::to_string(getpid());
  std::ofstream(plain).put('x');
  std::vector<std::string> paths = {"/no-such-folder/events.jsonl", dir, plain + "/events.jsonl"};
#ifndef _WIN32
  const std::string read_pipe = dir + "quorvex-read-pipe-" + std::to_string(getpid());
  const std::string lone_pipe = dir + "quorvex-lone-pipe-" + std::to_string(getpid());
  ASSERT_EQ(mkfifo(read_pipe.c_str(), 0600), 0);
  ASSERT_EQ(mkfifo(lone_pipe.c_str(), 0600), 0);
  const int reader = open(read_pipe.c_str(), O_RDONLY | O_NONBLOCK);
  paths.insert(paths.end(), {read_pipe, lone_pipe});
#endif
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    EXPECT_FALSE(AppendEventLine(path.c_str(), "{}\n"));
    setenv("QUORVEX_EVENT_LOG", path.c_str(), 1);
    LogWarning("lost on purpose");
  }
  std::filesystem::remove(plain);
  unsetenv("QUORVEX_EVENT_LOG");
#ifndef _WIN32
  char byte;
  EXPECT_LE(read(reader, &byte, 1), 0) << "an entry went into the named pipe";
  close(reader);
  unlink(read_pipe.c_str());
  unlink(lone_pipe.c_str());
#endif
}

}  // namespace
}  // namespace quorvex
