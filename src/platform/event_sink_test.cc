#include "platform/event_sink.h"

#include <gtest/gtest.h>
#include <unistd.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#endif

#include <filesystem>
#include <fstream>
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

// Each row: a QUORVEX_EVENT_LOG that is no log file or cannot be opened.
// The file takes no entry (so it goes to the system's log), the caller
// goes on at once, and nothing is written into a named pipe (on Linux one
// with a reader, which lets a writer open it, and one without, where
// opening it to write would wait for good) or a device.
TEST(EventSinkTest, WhatIsNoLogFileTakesNoEntry) {
  const std::string dir = ::testing::TempDir(), id = std::to_string(getpid());
  const std::string plain = dir + "quorvex-plain-" + id;
  std::ofstream(plain).put('x');
  std::vector<std::string> paths = {"/no-such-folder/events.jsonl", dir, plain + "/events.jsonl"};
#ifndef _WIN32
  const std::string read_pipe = dir + "quorvex-read-pipe-" + id;
  const std::string lone_pipe = dir + "quorvex-lone-pipe-" + id;
  ASSERT_EQ(mkfifo(read_pipe.c_str(), 0600), 0);
  ASSERT_EQ(mkfifo(lone_pipe.c_str(), 0600), 0);
  const int reader = open(read_pipe.c_str(), O_RDONLY | O_NONBLOCK);
  paths.insert(paths.end(), {read_pipe, lone_pipe, "/dev/null"});
#else
  const std::string pipe = "\\\\.\\pipe\\quorvex-events-" + id;
  const HANDLE server = CreateNamedPipeA(pipe.c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE, 1, 4096,
                                         4096, 0, nullptr);
  paths.insert(paths.end(), {pipe, "NUL", "\\\\.\\NUL"});
#endif
  for (const std::string& path : paths) {
    EXPECT_FALSE(AppendEventLine(path.c_str(), "lost on purpose\n")) << path;
  }
  std::filesystem::remove(plain);
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
