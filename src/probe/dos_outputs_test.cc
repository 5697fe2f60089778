// The console runner with real child processes: the system's sh, printf,
// seq and cat, found along PATH as any bare program name is.
#include "probe/dos_outputs.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "probe_test_support.h"

namespace quorvex {
namespace {

using std::chrono::milliseconds;

// What seq 1 n prints.
std::string Numbers(int n) {
  std::string text;
  for (int i = 1; i <= n; ++i) text += std::to_string(i) + "\n";
  return text;
}

// True once pid has ended: gone, or a zombie left for its parent.
bool Ended(pid_t pid) {
  for (int i = 0; i < 200; ++i, std::this_thread::sleep_for(milliseconds(10))) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    const std::string text((std::istreambuf_iterator<char>(stat)), {});
    if (!stat || text.find(") Z") != std::string::npos) return true;
  }
  return false;
}

class DOSOutputsTest : public ::testing::Test, public DOSOutputsListener {
 protected:
  void ReceiveOutputs(std::string_view CommandOutputs) override {
    pieces_.emplace_back(CommandOutputs);
  }
  // Runs a command that starts a child and checks what every such run
  // guarantees: pieces of at most 256 bytes, one final empty piece, and
  // the result, Outputs and the pieces telling the same text.
  std::string Run(DOSOutputs& runner, const std::string& command_line) {
    pieces_.clear();
    const std::string result = runner.ExecuteCommand(command_line);
    EXPECT_TRUE(boxes_.shown.empty());
    std::string joined;
    for (std::size_t i = 0; i < pieces_.size(); ++i) {
      EXPECT_LE(pieces_[i].size(), 256u);
      EXPECT_EQ(pieces_[i].empty(), i + 1 == pieces_.size()) << "piece " << i;
      joined += pieces_[i];
    }
    EXPECT_EQ(joined, result);
    EXPECT_EQ(runner.Outputs(), result);
    return result;
  }

  std::vector<std::string> pieces_;
  testing::RecordingBoxes boxes_;
};

TEST_F(DOSOutputsTest, DeliversWhatTheChildWrote) {
  // Our own standard input holds text that the child must never see.
  int input[2];
  ASSERT_EQ(pipe(input), 0);
  ASSERT_EQ(write(input[1], "leaked", 6), 6);
  close(input[1]);
  const int saved_input = dup(0);
  dup2(input[0], 0);
  close(input[0]);
  const struct {
    const char* command_line;
    std::string output;
  } cases[] = {
      {R"(sh -c "echo out1; echo err1 >&2; echo out2; echo err2 >&2")", "out1\nerr1\nout2\nerr2\n"},
      {"printf abc", "abc"},
      {"true", ""},
      {"cat", ""},
      {R"(printf [%s] "a b" c\"d e\\"f g")", R"([a b][c"d][e\f g])"},
      {R"(sh -c "(sleep 0.3; echo grandchild) & echo child")", "child\ngrandchild\n"},
      {"seq 1 30000", Numbers(30000)},
  };
  DOSOutputs runner(this, boxes_);
  for (const auto& c : cases) {
    EXPECT_EQ(Run(runner, c.command_line), c.output) << c.command_line;
  }
  dup2(saved_input, 0);
  close(saved_input);
}

TEST_F(DOSOutputsTest, FailuresShowOneBoxAndLeaveTheLastOutput) {
  const struct {
    const char* command_line;
    bool without_descriptors;
    const char* box;
  } cases[] = {
      {"", false, "Command Line empty"},
      {"quorvex-no-such-program -x", false, "File or command not found"},
      {R"("/no/such/folder/tool.exe" -x)", false, "File or command not found"},
      {"true", true, "CreatePipe failed. Error: 24"},  // EMFILE
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.box);
#ifdef __SANITIZE_ADDRESS__
    // The sanitizers open descriptors of their own while the limit holds.
    if (c.without_descriptors) continue;
#endif
    DOSOutputs runner(this, boxes_);
    if (*c.command_line != '\0') Run(runner, "printf before");
    pieces_.clear();
    rlimit saved;
    getrlimit(RLIMIT_NOFILE, &saved);
    rlimit tight = saved;
    tight.rlim_cur = 3;  // 0, 1 and 2 are taken: no room for a pipe
    if (c.without_descriptors) setrlimit(RLIMIT_NOFILE, &tight);
    const std::string result = runner.ExecuteCommand(c.command_line);
    setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(result, "");
    ASSERT_EQ(boxes_.shown.size(), 1u);
    EXPECT_EQ(boxes_.shown[0].text, c.box);
    EXPECT_EQ(boxes_.shown[0].icon, MessageBoxIcon::kCritical);
    EXPECT_TRUE(pieces_.empty());
    EXPECT_EQ(runner.Outputs(), *c.command_line ? "before" : "");
    boxes_.shown.clear();
  }
}

TEST_F(DOSOutputsTest, TimeLimitKillsTheWholeGroupAndKeepsTheOutputSoFar) {
  DOSOutputs runner(this, boxes_, {}, RunLimits{.time_limit = milliseconds(300)});
  const auto start = std::chrono::steady_clock::now();
  // The grandchild holds the output as long as the child does.
  const std::string output = Run(runner, R"(sh -c "sleep 30 & echo $! $$; wait")");
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, milliseconds(300));
  EXPECT_LT(took, milliseconds(2300));
  EXPECT_TRUE(runner.TimedOut());
  std::istringstream pids(output);
  pid_t grandchild = 0, child = 0;
  ASSERT_TRUE(pids >> grandchild >> child) << output;
  EXPECT_TRUE(Ended(grandchild));
  EXPECT_TRUE(Ended(child));
}

TEST_F(DOSOutputsTest, CaptureLimitKeepsTheStartAndReadsToTheEnd) {
  // seq ends only once all of its 590 kB have been read from the pipe.
  DOSOutputs runner(this, boxes_, {},
                    RunLimits{.time_limit = milliseconds(20000), .capture_limit = 1000});
  EXPECT_EQ(Run(runner, "seq 1 100000"), Numbers(100000).substr(0, 1000));
  EXPECT_FALSE(runner.TimedOut());
}

}  // namespace
}  // namespace quorvex
