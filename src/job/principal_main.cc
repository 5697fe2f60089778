// Entry point of QuorvexServer: one process, one run of the job.
#include <clocale>
#include <cstdio>
#include <exception>
#include <string>

#include "job/principal.h"

int main() {
  // Numbers in tool replies and settings follow the user's regional
  // settings.
  std::setlocale(LC_ALL, "");
  std::string reason = "an unknown failure";
  try {
    return quorvex::Main();
  } catch (const std::exception& e) {
    // Main ends its own failures itself; whatever escapes it still ends the
    // run as every early end does.
    try {
      reason = e.what();
    } catch (...) {
    }
  } catch (...) {
  }
  try {
    return quorvex::EndRunEarly(quorvex::kExitSoftware, quorvex::kEventError,
                                "Main()\r\n" + reason);
  } catch (...) {
    std::fputs("Quorvex: the run ended early\n", stderr);  // no memory for more
  }
  return quorvex::kExitSoftware;
}
