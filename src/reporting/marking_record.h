// The record that makes a usage report's call and its acceptance durable.
//
// The central service bills from the usage counts, so a count sent twice is
// as wrong as one lost. The report keeps one record of its call in the
// state directory, one file per database, named after what the database
// says it is (database/database.h, DatabaseIdentity): installations that
// share a state directory each keep their own.
//   1. before the call it writes the record in full, saying SENDING, with
//      the cut-off, the database's identity, the number of document rows
//      and the total of Accesos;
//   2. once the service has accepted, SENDING becomes ACCEPTED in place:
//      the same bytes of the same file, synced, which needs no new space on
//      a full disk;
//   3. after the marking UPDATE has committed, or when the service surely
//      did not take the report (no connection, or its answer refused it),
//      the record is removed.
// A SENDING record means the service may hold that report: the next run
// sends the same report again (same cut-off, so the same rows) before it
// counts anything new, and a service that recognises a report it has
// accepted bills it once. An ACCEPTED record is marked with its cut-off.
// Either is believed only when the records under its cut-off still give
// its totals.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace quorvex {

struct MarkingRecord {
  bool accepted = false;
  std::string cutoff;        // "YYYY-MM-DD hh:mm:ss"
  std::string database;      // DatabaseIdentity of the database counted
  std::int64_t rows = 0;     // rows of the document (Transaccion, Server_Id groups)
  std::int64_t accesos = 0;  // the total of their Accesos: the records counted

  bool SameCounts(const MarkingRecord& other) const {
    return rows == other.rows && accesos == other.accesos;
  }
};

// The record's file for one database in a state directory. Every method
// throws StateError (platform/state_directory.h) when the file cannot be
// read or written.
class MarkingRecordFile {
 public:
  // The file "usage-report-<16 hex digits>.record", the digits a hash of
  // database_identity.
  MarkingRecordFile(const std::string& state_folder, const std::string& database_identity);

  const std::string& Path() const { return path_; }

  // The record, or std::nullopt when there is none. Also throws StateError
  // for a file that accounts other than the administrators and the job's
  // own may change (it is not believed, whatever it says) and for a file
  // that is not such a record (the cut-off must be a real date and time:
  // it goes into the statements; both totals must be whole numbers).
  std::optional<MarkingRecord> Read() const;

  // Writes record as SENDING, replacing any earlier one. Throws StateError
  // as well for a value holding a line break.
  void WriteSending(const MarkingRecord& record) const;

  // Turns the written record to ACCEPTED, in place.
  void MarkAccepted() const;

  // Removes the record; none is fine.
  void Remove() const;

  // Removes the half-written record a run killed while writing left beside
  // it; none is fine.
  void RemoveLeftover() const;

 private:
  std::string path_;
};

// The one record of the job's earlier versions, "usage-report.record",
// which named no database. Such a file is left for an operator to settle.
std::string EarlierVersionRecordPath(const std::string& state_folder);

}  // namespace quorvex
