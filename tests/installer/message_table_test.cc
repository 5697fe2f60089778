// Reads the event messages back from QuorvexServer.exe beside this program as Event Viewer
// finds them: each of the job's ids must be its one insertion string and nothing else.
#include <gtest/gtest.h>
#include <windows.h>

TEST(MessageTableTest, EveryIdIsItsOneInsertionString) {
  HMODULE job = LoadLibraryExA("QuorvexServer.exe", nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(job, nullptr) << "QuorvexServer.exe not loaded";
  for (const DWORD id : {1001, 1002, 1003}) {
    SCOPED_TRACE(id);
    char text[64] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS, job, id, 0, text,
                   sizeof text, nullptr);
    EXPECT_STREQ(text, "%1");
  }
  FreeLibrary(job);
}
