// Entry point of quorvex-check: the configuration test of the installation
// whose program folder holds this program. Prints one line per check and a
// summary line (or, with --json, one JSON document) and exits with 0 when
// nothing failed (with --strict: nothing failed or warned), 1 otherwise, 2
// for a wrong command line.
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

constexpr char kUsage[] =
    "usage: quorvex-check [--quiet] [--strict] [--json] [--user NAME]\n"
    "       quorvex-check --help | --version\n"
    "Checks the installation of this program folder without changing anything: the settings\n"
    "file, the files the job trusts, its state directory, the database, the central service,\n"
    "the latency tool and the schedule. One line per check, then a summary line.\n"
    "  --quiet    print only warnings, failures and the summary line\n"
    "  --strict   exit 1 on a warning too\n"
    "  --json     print one JSON document instead of lines\n"
    "  --user     judge file access for this account (Linux; default: quorvex when it exists)\n"
    "Exit status: 0 nothing failed, 1 something failed (or warned, with --strict), 2 usage.\n";

}  // namespace

int main(int argc, char** argv) {
  // Numbers in the settings and in the tools' output follow the user's
  // regional settings, as in the job.
  std::setlocale(LC_ALL, "");
  bool json = false, quiet = false, strict = false;
  std::string user;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg(argv[i]);
    if (arg == "--json") {
      json = true;
    } else if (arg == "--quiet") {
      quiet = true;
    } else if (arg == "--strict") {
      strict = true;
    } else if (arg == "--user" && i + 1 < argc) {
      user = argv[++i];
    } else if (arg == "--help") {
      Print(kUsage);
      return 0;
    } else if (arg == "--version") {
      Print("quorvex-check " QUORVEX_VERSION "\n");
      return 0;
    } else {
      std::fprintf(stderr, "quorvex-check: unknown argument %s\n%s", argv[i], kUsage);
      return 2;
    }
  }
  try {
    quorvex::ConfigurationCheck check(quorvex::ExecutableFolder(),
                                      quorvex::RunDeadline::FromEnvironment(), user);
    const quorvex::Findings& findings = check.Run();
    Print(json ? findings.Json() : findings.Text(quiet));
    const bool warned = findings.Count(quorvex::Verdict::kWarn) > 0;
    return findings.AnyFailed() || (strict && warned) ? 1 : 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quorvex-check: %s\n", e.what());
  }
  return 1;
}
