// What the run's summary and metrics cost a run: BeginRunSummary (reading
// the previous summary) and WriteRunRecords (last-run.json into the state
// directory, quorvex.prom into the metrics folder, each written, synced and
// renamed into place), for a run that measured 0, 100 and 1,000 servers.
// The files go to a folder on the disk the job would use (default: a new
// folder under /var/tmp, not a tmpfs, so that the syncs cost what they
// cost there):
//   build/bench/job/run_records_perftest [--dir FOLDER] [benchmark options]
// Target: under 1 ms for the empty run (0 servers).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "job/run_records.h"

namespace {

std::string g_folder;

void BM_RunRecords(benchmark::State& state) {
  quorvex::RunState run;
  run.StateFolder = g_folder;
  const std::string metrics = g_folder + "/metrics";
  std::filesystem::create_directories(metrics);
  for (auto _ : state) {
    run.Summary = {};
    quorvex::BeginRunSummary(run);
    run.Summary.sweep.selected = state.range(0);
    for (int i = 0; i < state.range(0); ++i)
      run.Summary.sweep.Record("SRV-" + std::to_string(i), i % 7 ? 12.5 : -1);
    run.Summary.usage.outcome = quorvex::ReportOutcome::kNothingToSend;
    run.Summary.usage.cutoff = "2026-12-07 03:00:00";
    quorvex::WriteRunRecords(run, 0, metrics);
  }
  state.counters["summary_bytes"] = static_cast<double>(run.Summary.Json().size());
  state.counters["metrics_bytes"] = static_cast<double>(run.Summary.Metrics().size());
}
BENCHMARK(BM_RunRecords)->Arg(0)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--dir") == 0) {
      g_folder = argv[i + 1];
      for (int j = i; j + 2 <= argc; ++j) argv[j] = argv[j + 2];
      argc -= 2;
      break;
    }
  }
  std::string made;
  if (g_folder.empty()) {
    char name[] = "/var/tmp/quorvex-records-XXXXXX";
    if (mkdtemp(name) == nullptr) return 1;
    g_folder = made = name;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (!made.empty()) std::filesystem::remove_all(made);
  return 0;
}
