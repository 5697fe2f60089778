// Capture speed: a child writes N megabytes through the console runner into
// the window's output box txtSalida, as the probe's tools do.
//
//   probe_capture_perftest [MB ...]      (default: 25 50 100)
//
// For each size prints the wall time and the throughput; equal throughput
// across sizes shows the time is linear in the output (each piece costs its
// own length, not the length of the text gathered so far).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "probe_test_support.h"
#include "ui/frm_main.h"

int main(int argc, char** argv) {
  std::vector<int> sizes;
  for (int i = 1; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
  if (sizes.empty()) sizes = {25, 50, 100};

  quorvex::RunState run;
  quorvex::testing::RecordingBoxes boxes;
  quorvex::frmMain form(run, boxes);
  form.Form_Load();
  for (int megabytes : sizes) {
    form.txtSalida.SetText({});
    const std::string command =
        "\"" BENCH_TOOL_DIR "/probe_output_writer\" " + std::to_string(megabytes);
    form.objDOS()->CommandLine(command);
    const auto start = std::chrono::steady_clock::now();
    form.objDOS()->ExecuteCommand();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::size_t expected = static_cast<std::size_t>(megabytes) * 1024 * 1024;
    if (form.txtSalida.Text().size() != expected || !boxes.shown.empty()) {
      std::fprintf(stderr, "capture of %d MB is wrong\n", megabytes);
      return 1;
    }
    std::printf("capture %4d MB: %7.3f s, %7.1f MB/s\n", megabytes, seconds, megabytes / seconds);
  }
  return 0;
}
