#include "platform/child_process.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace quorvex {
namespace {

namespace fs = std::filesystem;

// A bare name: the program folder, the current directory, then PATH, each
// with ".exe" tried first when it has no extension. A folder part: as it is.
TEST(FindProgramTest, LooksWhereWindowsLooks) {
  const fs::path root = fs::temp_directory_path() / ("quorvex-find-" + std::to_string(getpid()));
  const fs::path folder = root / "folder", cwd = root / "cwd", path = root / "path";
  for (const fs::path& file :
       {folder / "tcping.exe", folder / "both", folder / "both.exe", folder / "first",
        cwd / "first", cwd / "second", path / "first", path / "second", path / "third"}) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << "#!/bin/sh\n";
    fs::permissions(file, fs::perms::owner_all);
  }
  const fs::path saved_cwd = fs::current_path();
  const std::string saved_path = std::getenv("PATH");
  fs::current_path(cwd);
  setenv("PATH", ("/no/such/folder:" + path.string()).c_str(), 1);
  const std::pair<const char*, std::string> cases[] = {
      {"first", (folder / "first").string()},   {"second", (cwd / "second").string()},
      {"third", (path / "third").string()},     {"tcping", (folder / "tcping.exe").string()},
      {"both", (folder / "both.exe").string()}, {"quorvex-no-such-program", ""},
      {R"(sub\tool.exe)", "sub/tool.exe"},
  };
  for (const auto& [name, found] : cases)
    EXPECT_EQ(FindProgram(name, folder.string()), found) << name;
  setenv("PATH", saved_path.c_str(), 1);
  fs::current_path(saved_cwd);
  fs::remove_all(root);
}

}  // namespace
}  // namespace quorvex
