// Reads back from QuorvexServer.exe beside this program what Windows and Event Viewer find in
// its resources: each of the job's event ids must be its one insertion string and nothing
// else, and the manifest Windows reads at process creation (RT_MANIFEST, id 1) must ask for
// the highest privileges the starting user has, without access to other users' windows.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// The manifest resource as text; empty when the program has none.
std::string Manifest(HMODULE module) {
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));  // RT_MANIFEST
  HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
  const void* data = loaded ? LockResource(loaded) : nullptr;
  return data ? std::string(static_cast<const char*>(data), SizeofResource(module, found)) : "";
}

// The value of attribute in the first element named element, or "(none)".
std::string Attribute(const std::string& xml, const std::string& element,
                      const std::string& attribute) {
  const std::size_t start = xml.find("<" + element + " ");
  if (start == std::string::npos) return "(none)";
  const std::string tag = xml.substr(start, xml.find('>', start) - start);
  const std::size_t at = tag.find(" " + attribute + "=\"");
  if (at == std::string::npos) return "(none)";
  const std::size_t value = at + attribute.size() + 3;
  return tag.substr(value, tag.find('"', value) - value);
}

}  // namespace

int main() {
  HMODULE job = LoadLibraryExA("QuorvexServer.exe", nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (job == nullptr) return std::printf("QuorvexServer.exe not loaded\n"), 1;
  const std::string manifest = Manifest(job);
  const struct {
    const char* what;
    std::string found;
    const char* expected;
  } rows[] = {
      {"manifest, requested execution level",
       Attribute(manifest, "requestedExecutionLevel", "level"), "highestAvailable"},
      {"manifest, UI access", Attribute(manifest, "requestedExecutionLevel", "uiAccess"), "false"},
  };
  int failures = 0;
  for (const auto& row : rows) {
    const bool ok = row.found == row.expected;
    std::printf("%s: %s is \"%s\"\n", ok ? "ok" : "FAILED", row.what, row.found.c_str());
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
