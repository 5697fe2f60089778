#include "platform/event_sink.h"

#include <gtest/gtest.h>
#include <unistd.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#endif

#include <string>
#include <utility>
#include <vector>

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

// Each row: a QUORVEX_EVENT_LOG and whether the file sink takes the entry
// (true also where the write fails). Anything but a regular file is
// refused at once, so that the entry goes to the system's log, and nothing
// is written into a named pipe (on Linux one with a reader, which lets a
// writer open it, and one without, where opening it to write would wait for
// good) or a device.
TEST(EventSinkTest, WhatIsNoLogFileTakesNoEntry) {
  const std::string dir = ::testing::TempDir(), id = std::to_string(getpid());
  std::vector<std::pair<std::string, bool>> rows = {{"/no-such-folder/events.jsonl", true},
                                                    {dir, false}};
#ifndef _WIN32
  const std::string read_pipe = dir + "quorvex-read-pipe-" + id;
  const std::string lone_pipe = dir + "quorvex-lone-pipe-" + id;
  ASSERT_EQ(mkfifo(read_pipe.c_str(), 0600), 0);
  ASSERT_EQ(mkfifo(lone_pipe.c_str(), 0600), 0);
  const int reader = open(read_pipe.c_str(), O_RDONLY | O_NONBLOCK);
  rows.insert(rows.end(), {{read_pipe, false}, {lone_pipe, false}, {"/dev/null", false}});
#else
  const std::string pipe = "\\\\.\\pipe\\quorvex-events-" + id;
  const HANDLE server = CreateNamedPipeA(pipe.c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE, 1, 4096,
                                         4096, 0, nullptr);
  rows.insert(rows.end(), {{pipe, false}, {"NUL", false}, {"\\\\.\\NUL", false}});
#endif
  for (const auto& [path, taken] : rows) {
    EXPECT_EQ(AppendEventLine(path.c_str(), "lost on purpose\n"), taken) << path;
  }
#ifndef _WIN32
  char byte;
  EXPECT_LE(read(reader, &byte, 1), 0) << "an entry went into the named pipe";
  close(reader);
  unlink(read_pipe.c_str());
  unlink(lone_pipe.c_str());
#else
  CloseHandle(server);
#endif
}

}  // namespace
}  // namespace quorvex
