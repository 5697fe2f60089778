// Entry point of quorvex-check: the configuration test of the installation
// whose program folder holds this program. Prints one line per check (or,
// with --json, one JSON document) and exits with 0 when nothing failed, 1
// otherwise, 2 for a wrong command line.
#ifdef _WIN32
#include <windows.h>
#endif

#include <clocale>
#include <cstdio>
#include <exception>
#include <string>
#include <string_view>

#include "configuration_check.h"
#include "platform/process_info.h"
#ifdef _WIN32
#include "platform/windows_text.h"
#endif

namespace {

// Writes UTF-8 text to standard output: on a Windows console as wide
// characters, which it shows whatever its code page; anywhere else (a file,
// a pipe, a terminal elsewhere) as the bytes themselves.
void Print(const std::string& text) {
#ifdef _WIN32
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (GetConsoleMode(out, &mode)) {
    const std::wstring wide = quorvex::Utf8ToWide(text);
    DWORD written = 0;
    WriteConsoleW(out, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return;
  }
#endif
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  // Numbers in the settings and in the tools' output follow the user's
  // regional settings, as in the job.
  std::setlocale(LC_ALL, "");
  bool json = false;
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--json") {
      json = true;
    } else {
      std::fprintf(stderr,
                   "usage: quorvex-check [--json]\n"
                   "Checks the installation of this program folder without changing anything.\n");
      return 2;
    }
  }
  try {
    quorvex::ConfigurationCheck check(quorvex::ExecutableFolder(),
                                      quorvex::RunDeadline::FromEnvironment());
    const quorvex::Findings& findings = check.Run();
    Print(json ? findings.Json() : findings.Text());
    return findings.AnyFailed() ? 1 : 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quorvex-check: %s\n", e.what());
  }
  return 1;
}
