// The one deadline of a run.
//
// The scheduler that starts the job stops a run that lasts too long
// (systemd's TimeoutStartSec=10min, the Windows task's PT10M) wherever it
// is, so the job keeps a deadline of its own, kRunTime after its start,
// kMargin inside those limits, and cuts every bound of the run to the time
// left:
//   - the latency sweep has the run's time but the reports' share
//     (kReportsTime): it starts no tool once less than kShortestTool of
//     its time is left, and a tool runs at most min(120 s, its time left);
//   - a statement runs at most min(kStatementTime, the run's time left)
//     and is not started with less than a second left; the usage report's
//     marking statement at most its share kMarkingTime, so that a locked
//     table leaves the roster report its time;
//   - a report's call is not started unless kShortestCall is left after
//     what must follow it (the usage report keeps kMarkingTime for marking
//     the records it sent); its deadline is min(300 s, the time left minus
//     that).
// The table of limits in docs/design.md gives the arithmetic.
//
// QUORVEX_RUN_SECONDS may only shorten the run's time (tests do, to see
// the bounds act within seconds); every share shrinks in proportion.
#pragma once

#include <chrono>
#include <optional>

namespace quorvex {

class RunDeadline {
 public:
  using Clock = std::chrono::steady_clock;
  using Duration = std::chrono::milliseconds;

  static constexpr std::chrono::seconds kRunTime{9 * 60};
  static constexpr std::chrono::seconds kMargin{60};
  static constexpr std::chrono::seconds kReportsTime{180};
  static constexpr std::chrono::seconds kShortestTool{10};
  static constexpr std::chrono::seconds kMarkingTime{30};
  static constexpr std::chrono::seconds kStatementTime{300};
  static constexpr std::chrono::seconds kShortestCall{30};

  // A deadline run_time from now; never later than kRunTime from now.
  explicit RunDeadline(Duration run_time = kRunTime);

  // The run's deadline from now: kRunTime, or the whole number of seconds
  // in QUORVEX_RUN_SECONDS when that is positive and smaller.
  static RunDeadline FromEnvironment();

  Clock::time_point End() const { return end_; }
  // Time left until End(); zero once it has passed.
  Duration Left() const;

  // A share of the run's time given at the full kRunTime, in proportion to
  // this run's time.
  Duration Share(std::chrono::seconds at_full_length) const;

  // The end of the sweep's time: the reports' share before End().
  Clock::time_point SweepEnd() const { return end_ - Share(kReportsTime); }
  Duration SweepLeft() const;

  // The deadline of a report's call that must leave `keep` for what follows
  // it: min(limit, the whole seconds left minus keep). std::nullopt when
  // that would be shorter than the shortest call: the call is not started.
  std::optional<std::chrono::seconds> CallTime(std::chrono::seconds limit, Duration keep) const;

 private:
  Duration run_time_;
  Clock::time_point end_;
};

}  // namespace quorvex
