#include "platform/child_process.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace quorvex {
namespace {

namespace fs = std::filesystem;

struct SplitCase {
  const char* line;
  std::vector<std::string> args;
};

TEST(SplitCommandLineTest, FollowsTheWindowsRules) {
  const SplitCase cases[] = {
      {"", {}},
      {" \t ", {}},
      {"ping host", {"ping", "host"}},
      {"  ping\thost  ", {"ping", "host"}},
      {R"("/opt/q/tcping.exe" -i 0 host 80)", {"/opt/q/tcping.exe", "-i", "0", "host", "80"}},
      {R"("/opt/my tools/tcping.exe"  host)", {"/opt/my tools/tcping.exe", "host"}},
      // The program name takes backslashes as plain text, also before its
      // closing quote.
      {R"("C:\tools\" rest)", {R"(C:\tools\)", "rest"}},
      {R"(C:\tools\tcping.exe a)", {R"(C:\tools\tcping.exe)", "a"}},
      {R"("unterminated program)", {"unterminated program"}},
      {R"(p "a b" c)", {"p", "a b", "c"}},
      {R"(p "a"b"c d")", {"p", "abc d"}},
      {R"(p "")", {"p", ""}},
      {R"(p "a b)", {"p", "a b"}},
      {R"(p a\"b)", {"p", R"(a"b)"}},
      {R"(p a\\"b c")", {"p", R"(a\b c)"}},
      {R"(p a\\\"b)", {"p", R"(a\"b)"}},
      {R"(p a\\\\"b c")", {"p", R"(a\\b c)"}},
      {R"(p a\b\\c\)", {"p", R"(a\b\\c\)"}},
      {R"(p "a\\" b)", {"p", R"(a\)", "b"}},
      {"p \"tab\tinside\"", {"p", "tab\tinside"}},
  };
  for (const SplitCase& c : cases) {
    EXPECT_EQ(SplitCommandLine(c.line), c.args) << "line: " << c.line;
  }
}

class FindProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("quorvex-find-" + std::to_string(getpid()));
    fs::create_directories(root_ / "folder");
    fs::create_directories(root_ / "cwd");
  }
  void TearDown() override { fs::remove_all(root_); }

  static void MakeFile(const fs::path& path, bool executable) {
    std::ofstream(path) << "#!/bin/sh\n";
    fs::permissions(path, executable ? fs::perms::owner_all : fs::perms::owner_read);
  }

  fs::path root_;
};

TEST_F(FindProgramTest, LooksInProgramFolderThenCurrentDirectoryThenPath) {
  const std::string folder = (root_ / "folder").string();
  // "ls" is on PATH; copies in our folders must win in the stated order.
  const std::string from_path = FindProgram("ls", "");
  ASSERT_FALSE(from_path.empty());
  EXPECT_TRUE(from_path.ends_with("/ls"));

  MakeFile(root_ / "cwd" / "ls", true);
  const fs::path saved = fs::current_path();
  fs::current_path(root_ / "cwd");
  EXPECT_EQ(FindProgram("ls", folder), (root_ / "cwd" / "ls").string());
  MakeFile(root_ / "folder" / "ls", true);
  EXPECT_EQ(FindProgram("ls", folder), (root_ / "folder" / "ls").string());
  EXPECT_EQ(FindProgram("ls", folder + "/"), (root_ / "folder" / "ls").string());
  fs::current_path(saved);
}

TEST_F(FindProgramTest, SkipsWhatCannotRun) {
  const std::string folder = (root_ / "folder").string();
  MakeFile(root_ / "folder" / "ls", false);          // not executable
  fs::create_directories(root_ / "folder" / "cat");  // a folder
  EXPECT_NE(FindProgram("ls", folder), (root_ / "folder" / "ls").string());
  EXPECT_NE(FindProgram("cat", folder), (root_ / "folder" / "cat").string());
  EXPECT_EQ(FindProgram("quorvex-no-such-program", folder), "");
  EXPECT_EQ(FindProgram("", folder), "");
}

TEST_F(FindProgramTest, NameWithoutExtensionGetsExeAsOnWindows) {
  const fs::path folder = root_ / "folder";
  for (const char* file : {"tcping.exe", "both", "both.exe", "ping", "v1.2.exe"}) {
    MakeFile(folder / file, true);
  }
  // Each row: the name typed, the file found ("" for none).
  const struct {
    const char* name;
    std::string found;
  } cases[] = {
      {"tcping", (folder / "tcping.exe").string()},
      {"tcping.exe", (folder / "tcping.exe").string()},
      {"both", (folder / "both.exe").string()},
      {"ping", (folder / "ping").string()},
      {"v1.2", ""},  // it has an extension already
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FindProgram(c.name, folder.string()), c.found) << c.name;
  }
  // A name found only without ".exe", on PATH, as the system's ping is.
  EXPECT_TRUE(FindProgram("ls", folder.string()).ends_with("/ls"));
}

TEST_F(FindProgramTest, NamesWithAFolderAreUsedAsTheyAre) {
  EXPECT_EQ(FindProgram("/no/such/tool", "/elsewhere"), "/no/such/tool");
  EXPECT_EQ(FindProgram("sub/tool", "/elsewhere"), "sub/tool");
  EXPECT_EQ(FindProgram(R"(sub\tool.exe)", "/elsewhere"), "sub/tool.exe");
}

TEST(ExecutableFolderTest, IsTheFolderOfThisTest) {
  const std::string folder = ExecutableFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_TRUE(fs::exists(fs::path(folder) / "platform_tests"));
}

}  // namespace
}  // namespace quorvex
