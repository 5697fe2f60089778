// What Windows and Event Viewer read from QuorvexServer.exe beside this program: each event id
// is its one insertion string; the manifest asks for highestAvailable, without uiAccess.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

TEST(JobResourcesTest, EventMessagesAndManifest) {
  HMODULE job = LoadLibraryExA("QuorvexServer.exe", nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(job, nullptr) << "QuorvexServer.exe not loaded";
  for (const DWORD id : {1001, 1002, 1003}) {
    SCOPED_TRACE(id);
    char text[64] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS, job, id, 0, text,
                   sizeof text, nullptr);
    EXPECT_STREQ(text, "%1");
  }
  HRSRC found = FindResourceA(job, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));  // RT_MANIFEST
  ASSERT_NE(found, nullptr);
  const std::string manifest(static_cast<const char*>(LockResource(LoadResource(job, found))),
                             SizeofResource(job, found));
  const std::size_t at = manifest.find("<requestedExecutionLevel ");
  const std::string level =
      at == std::string::npos ? "" : manifest.substr(at, manifest.find('>', at) - at);
  for (const char* attribute : {" level=\"highestAvailable\"", " uiAccess=\"false\""}) {
    SCOPED_TRACE(attribute);
    EXPECT_NE(level.find(attribute), std::string::npos);
  }
}
