// The usage report's record of its call, in a state folder of its own; the
// report's use of it runs whole in tests/job.
#include "reporting/marking_record.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/state_directory.h"

namespace quorvex {
namespace {

namespace fs = std::filesystem;

// Only a whole record with a real date as its cut-off, its database, whole
// totals and a file no one else may change is read: its cut-off goes into the marking
// statement, so anything else is refused, never guessed at. Each row: the
// file, its permissions, and what is read ('A' accepted, 'S' sending, 'X'
// refused).
TEST(MarkingRecordTest, ReadsOnlyAWholeRecordNoOneElseMayChange) {
  const fs::path folder = fs::path(::testing::TempDir()) / "quorvex-marking-record";
  fs::create_directories(folder);
  const MarkingRecordFile file(folder.string(), "sqlite:/srv/a.db");
  const MarkingRecordFile other(folder.string(), "sqlite:/srv/b.db");
  ASSERT_NE(file.Path(), other.Path());
  const std::string rest = "database=sqlserver:db1\\SQL/EMPRESAS\nrows=2\naccesos=55\n";
  const fs::perms own = fs::perms::owner_read | fs::perms::owner_write;
  const struct {
    std::string content;
    fs::perms perms;
    char read;
  } rows[] = {
      {"ACCEPTED\ncut-off=2026-01-05 10:00:00\n" + rest, own, 'A'},
      {"SENDING \ncut-off=2026-01-05 10:00:00\n" + rest, own | fs::perms::group_read, 'S'},
      {"SENDING \ncut-off=2026-01-05 10:00:00\n" + rest, own | fs::perms::group_write, 'X'},
      {"ACCEPTED\ncut-off=2026-01-05 10:00:00\n" + rest, own | fs::perms::others_write, 'X'},
      {"ACCEPTED\ncut-off=2026-01-05 10:00:00' OR 'a'='a\n" + rest, own, 'X'},
      {"ACCEPTED\ncut-off=2026-02-30 10:00:00\n" + rest, own, 'X'},
      {"ACCEPTED\ncut-off=2026-01-05\n" + rest, own, 'X'},
      {"ACCEPTED\ncut-off=2026-01-05 10:00:00\ndatabase=x\nrows=2\naccesos=-5\n", own, 'X'},
      {"ACCEPTED\ncut-off=2026-01-05 10:00:00\nrows=2\naccesos=55\n", own, 'X'},
      {"ACCEPTE\ncut-off=2026-01-05 10:00:00\n" + rest, own, 'X'},
      {"", own, 'X'},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.content);
#ifdef _WIN32
    // Who may change a file is its access list there, which the mode bits
    // do not reach.
    if ((row.perms & (fs::perms::group_write | fs::perms::others_write)) != fs::perms::none)
      continue;
#endif
    fs::remove(file.Path());
    std::ofstream(file.Path(), std::ios::binary) << row.content;
    fs::permissions(file.Path(), row.perms);
    char read = '-';
    try {
      const auto record = file.Read();
      read = record->accepted ? 'A' : 'S';
      EXPECT_EQ(record->database + " " + std::to_string(record->rows) + " " +
                    std::to_string(record->accesos),
                "sqlserver:db1\\SQL/EMPRESAS 2 55");
    } catch (const StateError&) {
      read = 'X';
    }
    EXPECT_EQ(read, row.read);
  }
  // Written, turned to ACCEPTED, removed; a value that would break the
  // record is refused; a half-written one is cleared away.
  fs::remove(file.Path());
  file.WriteSending({false, "2026-01-05 10:00:00", "sqlite:/srv/a.db", 3, 40});
  EXPECT_FALSE(file.Read()->accepted);
  file.MarkAccepted();
  EXPECT_EQ(file.Read()->cutoff, "2026-01-05 10:00:00");
  EXPECT_TRUE(file.Read()->accepted);
  EXPECT_FALSE(other.Read());
  file.Remove();
  EXPECT_FALSE(file.Read());
  EXPECT_THROW(file.WriteSending({false, "2026-01-05 10:00:00", "a\nb", 1, 1}), StateError);
  std::ofstream(file.Path() + ".new") << "SENDING";
  file.RemoveLeftover();
  EXPECT_FALSE(fs::exists(file.Path() + ".new"));
  fs::remove_all(folder);
}

}  // namespace
}  // namespace quorvex
