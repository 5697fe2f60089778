// Reads back from QuorvexServer.exe beside this program what Windows and Event Viewer find in
// its resources: each of the job's event ids must be its one insertion string and nothing
// else, and the manifest Windows reads at process creation (RT_MANIFEST, id 1) must ask for
// the highest privileges the starting user has, without access to other users' windows.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

class JobResourcesTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(job_, nullptr) << "QuorvexServer.exe not loaded"; }
  void TearDown() override {
    if (job_ != nullptr) FreeLibrary(job_);
  }
  const HMODULE job_ = LoadLibraryExA("QuorvexServer.exe", nullptr, LOAD_LIBRARY_AS_DATAFILE);
};

TEST_F(JobResourcesTest, EveryEventIdIsItsOneInsertionString) {
  for (const DWORD id : {1001, 1002, 1003}) {
    SCOPED_TRACE(id);
    char text[64] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS, job_, id, 0, text,
                   sizeof text, nullptr);
    EXPECT_STREQ(text, "%1");
  }
}

TEST_F(JobResourcesTest, ManifestAsksForTheHighestAvailableLevelWithoutUiAccess) {
  HRSRC found = FindResourceA(job_, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));  // RT_MANIFEST
  ASSERT_NE(found, nullptr);
  const std::string manifest(static_cast<const char*>(LockResource(LoadResource(job_, found))),
                             SizeofResource(job_, found));
  const std::size_t at = manifest.find("<requestedExecutionLevel ");
  ASSERT_NE(at, std::string::npos);
  const std::string level = manifest.substr(at, manifest.find('>', at) - at);
  for (const char* attribute : {" level=\"highestAvailable\"", " uiAccess=\"false\""}) {
    SCOPED_TRACE(attribute);
    EXPECT_NE(level.find(attribute), std::string::npos);
  }
}
