// The console runner with real child processes: the system's sh, printf,
// seq and cat, found along PATH as any bare program name is; on Windows its
// cmd and ping.
#include "probe/dos_outputs.h"

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "probe_test_support.h"

namespace quorvex {
namespace {

using std::chrono::milliseconds;

class DOSOutputsTest : public ::testing::Test, public DOSOutputsListener {
 protected:
  void ReceiveOutputs(std::string_view CommandOutputs) override {
    pieces_.emplace_back(CommandOutputs);
    if (on_piece_) on_piece_();
  }
  // Every run that starts a child: pieces of at most 256 bytes, one final
  // empty piece, and the pieces joined are the result.
  std::string Run(DOSOutputs& runner, const std::string& command_line) {
    pieces_.clear();
    const std::string result = runner.ExecuteCommand(command_line);
    std::string joined;
    for (std::size_t i = 0; i < pieces_.size(); ++i) {
      EXPECT_LE(pieces_[i].size(), 256u);
      EXPECT_EQ(pieces_[i].empty(), i + 1 == pieces_.size()) << "piece " << i;
      joined += pieces_[i];
    }
    EXPECT_EQ(joined, result);
    return result;
  }

  std::vector<std::string> pieces_;
  std::function<void()> on_piece_;  // called with each piece, while the child may run
  testing::RecordingBoxes boxes_;
};

#ifdef _WIN32
// Each row: the command line, its whole result, the runner's limits,
// whether the time limit ended it, and for a run that starts nothing its one
// box or, for a program folder that the ANSI code page (1252 for the tests'
// German user) cannot hold, the error naming the problem. An empty line and
// an unknown bare name: the console's test (tests/ui).
TEST_F(DOSOutputsTest, WindowsChildrenDeliverAndEnd) {
  std::string counted;
  for (int i = 1; counted.size() < 1000; ++i) counted += std::to_string(i) + "\r\n";
  const struct {
    const char* command_line;
    std::string output;
    RunLimits limits = {};
    bool timed_out = false;
    const char* box = nullptr;
    const char* error = "";
  } cases[] = {
      {"cmd /c echo out1& echo err1 1>&2& echo out2", "out1\r\nerr1 \r\nout2\r\n"},
      // Through the ANSI code page both ways.
      {"cmd /c echo Facturación", "Facturación\r\n"},
      // The limit leaves cmd under wine time to start and echo on a loaded
      // machine; ping -n 30 outlasts it by far.
      {"cmd /c echo started& ping -n 30 127.0.0.1 >nul", "started\r\n",
       RunLimits{.time_limit = milliseconds(4000)}, true},
      {"cmd /c for /l %i in (1,1,5000) do @echo %i", counted.substr(0, 1000),
       RunLimits{.time_limit = milliseconds(60000), .capture_limit = 1000}},
      {R"("C:\no\such\tool.exe" -x)", "", {}, false, "File or command not found"},
      {R"("C:\Квота\tcping.exe" -i 0 127.0.0.1 80)",
       "",
       {},
       false,
       nullptr,
       R"(The program C:\Квота\tcping.exe cannot be started: its path holds characters that the )"
       "system's ANSI code page (1252) cannot represent. Folder and program names must be "
       "written with characters of that code page."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command_line);
    DOSOutputs runner(this, boxes_, {}, c.limits);
    const auto start = std::chrono::steady_clock::now();
    std::string error;
    try {
      EXPECT_EQ(Run(runner, c.command_line), c.output);
    } catch (const std::runtime_error& e) {
      error = e.what();
    }
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(runner.TimedOut(), c.timed_out);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    ASSERT_EQ(boxes_.shown.size(), c.box ? 1u : 0u);
    if (c.box) {
      EXPECT_EQ(boxes_.shown[0].text, c.box);
    }
    boxes_.shown.clear();
  }
}
// A tool inherits its output and nothing else: a pipe this process made
// inheritable stays its own, so closing its write end here breaks it while
// the tool still runs.
TEST_F(DOSOutputsTest, WindowsChildInheritsOnlyItsOutput) {
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  ASSERT_TRUE(CreatePipe(&read_end, &write_end, &inheritable, 0));
  DWORD peek_error = 0;
  on_piece_ = [&] {
    if (write_end == nullptr) return;
    CloseHandle(write_end);
    write_end = nullptr;
    if (!PeekNamedPipe(read_end, nullptr, 0, nullptr, nullptr, nullptr)) {
      peek_error = GetLastError();
    }
  };
  DOSOutputs runner(this, boxes_, {}, RunLimits{.time_limit = milliseconds(20000)});
  EXPECT_EQ(Run(runner, "cmd /c echo started& ping -n 3 127.0.0.1 >nul"), "started\r\n");
  EXPECT_EQ(peek_error, static_cast<DWORD>(ERROR_BROKEN_PIPE));
  CloseHandle(read_end);
}
#else
// Each row: the command line, its whole result, the capture limit (0: the
// default), and the one box of a run that starts nothing, with the
// descriptors left to this process. seq ends only once all of its 590 kB
// have been read. An empty line and an unknown bare name: the console's tests
// (tests/ui).
TEST_F(DOSOutputsTest, DeliversWhatTheChildWroteOrShowsOneBox) {
  int input[2];  // our own input holds text that the child must never see
  ASSERT_TRUE(pipe2(input, O_CLOEXEC) == 0 && write(input[1], "leaked", 6) == 6);
  close(input[1]);
  const int saved_input = dup(0);
  dup2(input[0], 0);
  std::string counted;
  for (int i = 1; counted.size() < 1000; ++i) counted += std::to_string(i) + "\n";
  const struct {
    const char* command_line;
    std::string output;
    std::size_t capture_limit = 0;
    const char* box = nullptr;
    rlim_t descriptors = RLIM_INFINITY;
  } cases[] = {
      {R"(sh -c "echo out1; echo err1 >&2; echo out2; echo err2 >&2")", "out1\nerr1\nout2\nerr2\n"},
      {"cat", ""},
      // Arguments split by the Windows rules; tabs separate them too.
      {"printf\t[%s]  "
       R"("a b" "" c\"d e\\"f g" a\\\"b a\b\\c\ "x"y"z w" "t)"
       "\tu",
       R"([a b][][c"d][e\f g][a\"b][a\b\\c\][xyz w][t)"
       "\tu]"},
      {R"(sh -c "(sleep 0.3; echo grandchild) & echo child")", "child\ngrandchild\n"},
      {"seq 1 100000", counted.substr(0, 1000), 1000},
      {R"("/no/such/folder/tool.exe" -x)", "", 0, "File or command not found"},
      {"true", "", 0, "CreatePipe failed. Error: 24", 3},  // 0, 1 and 2 taken: EMFILE
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command_line);
#ifdef __SANITIZE_ADDRESS__
    if (c.descriptors == 3) continue;  // the sanitizers need descriptors of their own
#endif
    RunLimits limits{.time_limit = milliseconds(20000)};
    if (c.capture_limit != 0) limits.capture_limit = c.capture_limit;
    DOSOutputs runner(this, boxes_, {}, limits);
    rlimit saved;
    getrlimit(RLIMIT_NOFILE, &saved);
    const rlimit tight = {std::min(c.descriptors, saved.rlim_cur), saved.rlim_max};
    setrlimit(RLIMIT_NOFILE, &tight);
    const std::string result = Run(runner, c.command_line);
    setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(result, c.output);
    EXPECT_FALSE(runner.TimedOut());
    ASSERT_EQ(boxes_.shown.size(), c.box ? 1u : 0u);
    if (c.box) {
      EXPECT_EQ(boxes_.shown[0].text, c.box);
      EXPECT_EQ(boxes_.shown[0].icon, MessageBoxIcon::kCritical);
      EXPECT_TRUE(pieces_.empty());
    }
    boxes_.shown.clear();
  }
  dup2(saved_input, 0);
  close(saved_input);
}

// A tool whose grandchild would touch a mark file a second after it
// started: the time limit of 300 ms ends the tool and the grandchild, also
// one below a process that left the tool's process group. (What a tool
// leaves when it ends by itself, the job ends with the run: tests/job.)
TEST_F(DOSOutputsTest, NothingTheToolStartedOutlivesItsLimit) {
  const std::string mark = ::testing::TempDir() + "grandchild-" + std::to_string(getpid());
  for (const std::string& grandchild :
       {"(sleep 1; touch " + mark + ")", "setsid sh -c '(sleep 1; touch " + mark + ") & wait'"}) {
    SCOPED_TRACE(grandchild);
    const auto start = std::chrono::steady_clock::now();
    {
      DOSOutputs runner(this, boxes_, {}, RunLimits{.time_limit = milliseconds(300)});
      EXPECT_EQ(Run(runner, "sh -c \"" + grandchild + " & echo started; sleep 30\""), "started\n");
      EXPECT_TRUE(runner.TimedOut());
    }
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, milliseconds(300));
    EXPECT_LT(took, milliseconds(1000));
    usleep(1'300'000);
    EXPECT_NE(access(mark.c_str(), F_OK), 0) << "the grandchild lived on";
    unlink(mark.c_str());
  }
}

#endif

}  // namespace
}  // namespace quorvex
