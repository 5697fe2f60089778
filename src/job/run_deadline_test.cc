#include "job/run_deadline.h"

#include <gtest/gtest.h>
#include <stdlib.h>

namespace quorvex {
namespace {

using std::chrono::seconds;

// QUORVEX_RUN_SECONDS may only shorten the run's nine minutes.
TEST(RunDeadlineTest, TheEnvironmentOnlyShortensTheRun) {
  const struct {
    const char* value;
    int seconds;
  } rows[] = {{nullptr, 540}, {"30", 30},  {"539", 539}, {"540", 540}, {"6000", 540},
              {"0", 540},     {"-5", 540}, {"30s", 540}, {"", 540}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.value ? row.value : "(unset)");
    row.value ? setenv("QUORVEX_RUN_SECONDS", row.value, 1) : unsetenv("QUORVEX_RUN_SECONDS");
    const RunDeadline deadline = RunDeadline::FromEnvironment();
    EXPECT_EQ(std::chrono::round<seconds>(deadline.Left()).count(), row.seconds);
    // The sweep leaves the reports their third.
    EXPECT_EQ(std::chrono::round<seconds>(deadline.SweepLeft()).count(), row.seconds * 2 / 3);
  }
  unsetenv("QUORVEX_RUN_SECONDS");
}

// A call gets min(limit, the whole seconds left minus what it keeps), and
// none at all with less than the shortest call (30 s in 540), or than a
// second, left. Half seconds keep the rows off the clock's tick.
TEST(RunDeadlineTest, ACallKeepsWhatFollowsItOrIsNotStarted) {
  const struct {
    int run_seconds;
    int keep_ms;
    int expected;  // -1: not started
  } rows[] = {{540, 30500, 300}, {540, 260500, 279}, {540, 509500, 30}, {540, 510500, -1},
              {60, 500, 59},     {60, 55500, 4},     {60, 56900, -1},   {1, 500, -1}};
  for (const auto& row : rows) {
    SCOPED_TRACE(std::to_string(row.run_seconds) + " keep " + std::to_string(row.keep_ms));
    const auto time = RunDeadline(seconds(row.run_seconds))
                          .CallTime(seconds(300), std::chrono::milliseconds(row.keep_ms));
    EXPECT_EQ(time ? time->count() : -1, row.expected);
  }
}

}  // namespace
}  // namespace quorvex
