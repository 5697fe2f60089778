// Entry point of QuorvexServer: one process, one run of the job.
#include <clocale>
#include <cstdio>
#include <exception>

#include "job/principal.h"

int main() {
  // Numbers in tool replies and settings follow the user's regional
  // settings.
  std::setlocale(LC_ALL, "");
  try {
    return quorvex::Main();
  } catch (const std::exception& e) {
    // Main ends its own failures itself; whatever escapes it still ends the
    // run with its reason on standard error.
    std::fprintf(stderr, "Quorvex: the run ended early: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "Quorvex: the run ended early on an unknown failure\n");
  }
  return quorvex::kExitSoftware;
}
