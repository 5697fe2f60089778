// The operator console's status line: how the job's last run ended, from
// the summary it left in the state directory (job/run_summary.h). It sits
// under the window's client area, kStatusLineHeightTwips high.
#pragma once

#include <string>

namespace quorvex {

inline constexpr int kStatusLineHeightTwips = 300;

// For the state directory of this installation (platform/state_directory.h),
// one line short enough for the window's width, for example "Last run
// 2026-12-07T03:44:34Z: exit 0, usage accepted, 1/2 servers measured"; "Last run: none recorded in
// <folder>" when there is no summary; "Last run: unknown (<why>)" when it
// cannot be read (an operator's account may not read the state directory).
// Never throws.
std::string LastRunStatus();

}  // namespace quorvex
