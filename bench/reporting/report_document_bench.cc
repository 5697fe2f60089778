// Building a report document row by row and delivering it with
// Consumir_WebService to the reference central service over loopback, for
// growing row counts: the time must grow linearly with the rows (no copy of
// the whole document per row), and the memory the call needs at its peak
// must stay under four times the document's size.
//
// Counters: bytes (document size), peak_x (the process's peak resident
// memory during build and call, above what it held before, divided by the
// document size). The peak is reset before each measured iteration through
// /proc/self/clear_refs.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "central_service_fixture.h"
#include "reporting/modulo.h"
#include "reporting/report_frame.h"

namespace {

using quorvex::testing::CentralService;

CentralService& Service() {
  static CentralService service;
  return service;
}

long StatusKb(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(field) + ":";
  while (std::getline(in, line)) {
    if (line.rfind(prefix, 0) == 0) return std::stol(line.substr(prefix.size()));
  }
  return 0;
}

void ResetPeak() {
  std::ofstream out("/proc/self/clear_refs");
  out << "5";
}

std::string BuildRoster(long rows) {
  quorvex::ReportDocument document(
      "<Documento Tipo='OPERADOR-INFO' Usuario='' Password='' Empresa='' > ", "Operadores");
  for (long i = 0; i < rows; ++i) {
    const std::string op = "OP" + std::to_string(i);
    document.AddRow({"  <Operador ", " SID=\"", "SRV-01", "\" ", " Operador=\"", op, "\" ",
                     " Nombre=\"", "Nombre Apellido Apellido ", op, "\" ", " Email=\"", op,
                     "@empresa.example.com", "\" />"});
  }
  return document.Finish();
}

void BM_BuildAndSend(benchmark::State& state) {
  const long rows = state.range(0);
  quorvex::RunState run;
  double bytes = 0;
  double peak_x = 0;
  for (auto _ : state) {
    ResetPeak();
    const long before_kb = StatusKb("VmRSS");
    std::string document = BuildRoster(rows);
    std::string code;
    bool ok = quorvex::Consumir_WebService(run, document, Service().Url(), "RecibeDocumento", code,
                                           quorvex::ServiceNamespace);
    const long peak_kb = StatusKb("VmHWM");
    if (!ok) state.SkipWithError(run.LastErrorText.c_str());
    bytes = static_cast<double>(document.size());
    peak_x = (peak_kb - before_kb) * 1024.0 / bytes;
  }
  state.counters["bytes"] = bytes;
  state.counters["peak_x"] = peak_x;
  state.SetComplexityN(rows);
}
BENCHMARK(BM_BuildAndSend)
    ->Arg(12500)
    ->Arg(25000)
    ->Arg(50000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

void BM_BuildOnly(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(BuildRoster(state.range(0)));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_BuildOnly)
    ->Arg(12500)
    ->Arg(25000)
    ->Arg(50000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

}  // namespace

BENCHMARK_MAIN();
