#include "job/run_deadline.h"

#include <algorithm>
#include <cstdlib>
#include <string>

namespace quorvex {
namespace {

using std::chrono::duration_cast;

RunDeadline::Duration Positive(RunDeadline::Duration d) {
  return std::max(d, RunDeadline::Duration::zero());
}

}  // namespace

RunDeadline::RunDeadline(Duration run_time)
    : run_time_(std::min<Duration>(Positive(run_time), kRunTime)), end_(Clock::now() + run_time_) {}

RunDeadline RunDeadline::FromEnvironment() {
  Duration run_time = kRunTime;
  if (const char* text = std::getenv("QUORVEX_RUN_SECONDS")) {
    char* end = nullptr;
    const long seconds = std::strtol(text, &end, 10);
    if (end != text && *end == '\0' && seconds > 0 && seconds < kRunTime.count()) {
      run_time = std::chrono::seconds(seconds);
    }
  }
  return RunDeadline(run_time);
}

RunDeadline::Duration RunDeadline::Left() const {
  return Positive(duration_cast<Duration>(end_ - Clock::now()));
}

RunDeadline::Duration RunDeadline::Share(std::chrono::seconds at_full_length) const {
  return duration_cast<Duration>(at_full_length) * run_time_.count() /
         duration_cast<Duration>(kRunTime).count();
}

RunDeadline::Duration RunDeadline::SweepLeft() const {
  return Positive(duration_cast<Duration>(SweepEnd() - Clock::now()));
}

std::optional<std::chrono::seconds> RunDeadline::CallTime(std::chrono::seconds limit,
                                                          Duration keep) const {
  const Duration available = Left() - keep;
  if (available < Share(kShortestCall) || available < std::chrono::seconds(1)) return std::nullopt;
  return std::min(limit, duration_cast<std::chrono::seconds>(available));
}

}  // namespace quorvex
