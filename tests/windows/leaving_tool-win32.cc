// A stand-in tcping.exe for the Windows job's test: with the options
// "--leave MARK" it starts itself again as "--stay MARK", a process that
// sleeps a minute holding none of the job's handles, prints a summary once
// that process has started, and ends at once.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
  if (argc < 3 || std::strcmp(argv[1], "--stay") == 0) return Sleep(60000), 0;
  char self[MAX_PATH];
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string line = std::string("\"") + self + "\" --stay " + argv[2];
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  PROCESS_INFORMATION child{};
  if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                     nullptr, &startup, &child)) {
    std::printf("Average = 1ms\n");
  }
  return 0;
}
