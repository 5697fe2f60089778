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

// Only a whole record with a real date as its cut-off is read: its cut-off
// goes into the marking statement, so anything else is refused, never
// guessed at. Each row: the file, and what is read ('A' accepted, 'S'
// sending, '-' none, 'X' refused).
TEST(MarkingRecordTest, ReadsOnlyAWholeRecord) {
  const fs::path folder = fs::path(::testing::TempDir()) / "quorvex-marking-record";
  fs::create_directories(folder);
  const MarkingRecordFile file(folder.string());
  const std::string rest = "server=db1\\SQL;x\ndatabase=EMPRESAS\n";
  const struct {
    std::string content;
    char read;
  } rows[] = {
      {"ACCEPTED\ncut-off=2026-01-05 10:00:00\n" + rest, 'A'},
      {"SENDING \ncut-off=2026-01-05 10:00:00\n" + rest, 'S'},
      {"ACCEPTED\ncut-off=2026-01-05 10:00:00' OR 'a'='a\n" + rest, 'X'},
      {"ACCEPTED\ncut-off=2026-02-30 10:00:00\n" + rest, 'X'},
      {"ACCEPTED\ncut-off=2026-01-05\n" + rest, 'X'},
      {"ACCEPTED\ncut-off=2026-01-05 10:00:00\nserver=db1\n", 'X'},
      {"ACCEPTE\ncut-off=2026-01-05 10:00:00\n" + rest, 'X'},
      {"", 'X'},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.content);
    std::ofstream(folder / "usage-report.record", std::ios::binary) << row.content;
    char read = '-';
    try {
      const auto record = file.Read();
      if (record) read = record->accepted ? 'A' : 'S';
      EXPECT_EQ(record ? record->server + record->database : "db1\\SQL;xEMPRESAS",
                "db1\\SQL;xEMPRESAS");
    } catch (const StateError&) {
      read = 'X';
    }
    EXPECT_EQ(read, row.read);
  }
  // Written, turned to ACCEPTED, removed; a value that would break the
  // record is refused.
  file.WriteSending({false, "2026-01-05 10:00:00", "sqlite:a.db", "E"});
  EXPECT_FALSE(file.Read()->accepted);
  file.MarkAccepted();
  EXPECT_EQ(file.Read()->cutoff, "2026-01-05 10:00:00");
  EXPECT_TRUE(file.Read()->accepted);
  file.Remove();
  EXPECT_FALSE(file.Read());
  EXPECT_THROW(file.WriteSending({false, "2026-01-05 10:00:00", "a\nb", "E"}), StateError);
  fs::remove_all(folder);
}

}  // namespace
}  // namespace quorvex
