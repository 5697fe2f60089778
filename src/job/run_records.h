// The two files a run leaves for monitoring: the run summary last-run.json
// in the state directory, and the metrics file quorvex.prom in the folder
// QUORVEX_METRICS_DIR names (job/run_summary.h gives their contents).
#pragma once

#include <string>

#include "job/run_state.h"

namespace quorvex {

// Starts run.Summary: the start time, and the time of the last accepted
// usage report carried over from the summary of an earlier run in
// run.StateFolder. An earlier summary that cannot be read, or holds no
// such time it can be believed for, carries nothing; one that cannot be
// read writes one warning entry. Never throws.
void BeginRunSummary(RunState& run);

// Ends run.Summary with the end time and exit_status, then writes
// last-run.json into run.StateFolder and, when metrics_folder is not
// empty, quorvex.prom there (readable by every account, for the
// collector). Each file is replaced whole or not at all; a file that cannot
// be written is one warning entry naming it and the fix. Never throws.
void WriteRunRecords(RunState& run, int exit_status, const std::string& metrics_folder);

}  // namespace quorvex
