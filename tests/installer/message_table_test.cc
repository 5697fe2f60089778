// Reads the event messages back from QuorvexServer.exe beside this program as Event Viewer
// finds them: each of the job's ids must be its one insertion string and nothing else.
#include <windows.h>

#include <cstdio>
#include <cstring>

int main() {
  HMODULE job = LoadLibraryExA("QuorvexServer.exe", nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (job == nullptr) return std::printf("QuorvexServer.exe not loaded\n"), 1;
  int failures = 0;
  for (DWORD id = 1001; id <= 1003; ++id) {
    char text[64] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS, job, id, 0, text,
                   sizeof text, nullptr);
    const bool ok = std::strcmp(text, "%1") == 0;
    std::printf("%s: message %lu is \"%s\"\n", ok ? "ok" : "FAILED", id, text);
    failures += ok ? 0 : 1;
  }
  return failures;
}
