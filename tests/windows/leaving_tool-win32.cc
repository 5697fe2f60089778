// A stand-in tcping.exe for the Windows job's test of leftover processes:
// given the options "--leave MARK" it starts itself again as "--stay MARK"
// (a process that sleeps a minute and holds none of the job's handles),
// prints a summary the job reads once that process has started, and ends
// at once.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  if (std::strcmp(argv[1], "--stay") == 0) {
    Sleep(60000);
    return 0;
  }
  char self[MAX_PATH];
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string line = std::string("\"") + self + "\" --stay " + argv[2];
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  PROCESS_INFORMATION child{};
  if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                     nullptr, &startup, &child)) {
    std::printf("Average = 1.000ms\n");
  }
  return 0;
}
