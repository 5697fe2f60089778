// Reads back from QuorvexServer.exe beside this program what Windows and Event Viewer find in
// its resources: each of the job's event ids must be its one insertion string and nothing
// else, and the manifest Windows reads at process creation (RT_MANIFEST, id 1) must ask for
// the highest privileges the starting user has, without access to other users' windows.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

int main() {
  HMODULE job = LoadLibraryExA("QuorvexServer.exe", nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (job == nullptr) return std::printf("QuorvexServer.exe not loaded\n"), 1;
  HRSRC found = FindResourceA(job, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));  // RT_MANIFEST
  const char* data = found ? static_cast<const char*>(LockResource(LoadResource(job, found))) : "";
  const std::string manifest(data, found ? SizeofResource(job, found) : 0);
  const std::size_t at = manifest.find("<requestedExecutionLevel ");
  const std::string level =
      at == std::string::npos ? "" : manifest.substr(at, manifest.find('>', at) - at);
  int failures = 0;
  for (const char* attribute : {" level=\"highestAvailable\"", " uiAccess=\"false\""}) {
    const bool ok = level.find(attribute) != std::string::npos;
    std::printf("%s: the manifest asks for%s\n", ok ? "ok" : "FAILED", attribute);
    failures += ok ? 0 : 1;
  }
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
