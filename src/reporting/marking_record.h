// The record that makes a usage report's acceptance durable.
//
// The central service bills from the usage counts, so a count sent twice is
// as wrong as one lost. Once the service has accepted a report, the counted
// records must be marked as sent; if the marking fails (a locked database, a
// full disk) or never runs (the process is killed, the scheduler stops the
// run), the next run would count and send them again. So the report keeps
// one record of its call in the state directory:
//   1. before the call it writes the record in full, saying SENDING, with
//      the cut-off and the database it concerns (the SERVER/SERVERDB and
//      DATABASE settings, never the password);
//   2. once the service has accepted, SENDING becomes ACCEPTED in place:
//      the same bytes of the same file, synced, which needs no new space on
//      a full disk;
//   3. after the marking UPDATE has committed, or when the call did not
//      succeed, the record is removed.
// A run that finds an ACCEPTED record marks with its cut-off before it
// counts anything. A SENDING record means a run ended during its call:
// whether the service accepted is not known.
#pragma once

#include <optional>
#include <string>

namespace quorvex {

struct MarkingRecord {
  bool accepted = false;
  std::string cutoff;    // "YYYY-MM-DD hh:mm:ss"
  std::string server;    // the SERVER (or SERVERDB) setting as written
  std::string database;  // the DATABASE setting
};

// The record's file in a state directory. Every method throws StateError
// (platform/state_directory.h) when the file cannot be read or written.
class MarkingRecordFile {
 public:
  explicit MarkingRecordFile(const std::string& state_folder);

  const std::string& Path() const { return path_; }

  // The record, or std::nullopt when there is none. Also throws StateError
  // for a file that is not such a record (the cut-off must be a real date
  // and time: it goes into the marking statement).
  std::optional<MarkingRecord> Read() const;

  // Writes record as SENDING, replacing any earlier one. Throws StateError
  // as well for a value holding a line break.
  void WriteSending(const MarkingRecord& record) const;

  // Turns the written record to ACCEPTED, in place.
  void MarkAccepted() const;

  // Removes the record; none is fine.
  void Remove() const;

 private:
  std::string path_;
};

}  // namespace quorvex
