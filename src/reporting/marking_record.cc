#include "reporting/marking_record.h"

#include <cstdio>
#include <sstream>

#include "platform/state_directory.h"
#include "platform/write_access.h"
#include "reporting/modulo.h"

namespace quorvex {
namespace {

// The first line: the state, both words of the same length so that one
// can replace the other in place.
constexpr char kSending[] = "SENDING ";
constexpr char kAccepted[] = "ACCEPTED";
constexpr std::size_t kStateLength = sizeof kAccepted - 1;
static_assert(sizeof kSending == sizeof kAccepted);
// Far more than a record of a few values holds.
constexpr std::size_t kMaxRecordBytes = 64 * 1024;

std::string Line(const char* key, const std::string& value) {
  if (value.find_first_of("\r\n") != std::string::npos) {
    throw StateError(std::string("the ") + key + " holds a line break and cannot be recorded");
  }
  return std::string(key) + "=" + value + "\n";
}

// 64-bit FNV-1a: the same identity gives the same name on every platform
// and in every version.
std::string NameFor(const std::string& identity) {
  std::uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : identity) hash = (hash ^ c) * 1099511628211ull;
  char name[64];
  std::snprintf(name, sizeof name, "usage-report-%016llx.record",
                static_cast<unsigned long long>(hash));
  return name;
}

bool WholeNumber(const std::string& text, std::int64_t& out) {
  if (text.empty() || text.size() > 18) return false;
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  out = value;
  return true;
}

}  // namespace

MarkingRecordFile::MarkingRecordFile(const std::string& state_folder,
                                     const std::string& database_identity)
    : path_(StateFilePath(state_folder, NameFor(database_identity))) {}

std::optional<MarkingRecord> MarkingRecordFile::Read() const {
  const std::optional<std::string> content = ReadStateFile(path_, kMaxRecordBytes);
  if (!content) return std::nullopt;
  if (const std::string why = WhyOthersMayChange(path_); !why.empty()) {
    throw StateError(path_ + " " + why + ", so what it says cannot be believed");
  }
  std::istringstream lines(*content);
  std::string state;
  std::getline(lines, state);
  MarkingRecord record;
  record.accepted = state == kAccepted;
  std::string rows, accesos;
  bool cutoff = false, database = false;
  for (std::string line; std::getline(lines, line);) {
    const std::size_t equals = line.find('=');
    const std::string key = line.substr(0, equals);
    const std::string value = equals == std::string::npos ? "" : line.substr(equals + 1);
    if (key == "cut-off") cutoff = true, record.cutoff = value;
    if (key == "database") database = true, record.database = value;
    if (key == "rows") rows = value;
    if (key == "accesos") accesos = value;
  }
  FechaHora fecha;
  if ((state != kAccepted && state != kSending) || !cutoff || !database ||
      !WholeNumber(rows, record.rows) || !WholeNumber(accesos, record.accesos) ||
      !ParseFechaHora(record.cutoff, fecha) || Formato_Fecha(fecha) != record.cutoff) {
    throw StateError(path_ + " is not a record of a usage report");
  }
  return record;
}

void MarkingRecordFile::WriteSending(const MarkingRecord& record) const {
  WriteStateFile(path_, std::string(kSending) + "\n" + Line("cut-off", record.cutoff) +
                            Line("database", record.database) +
                            Line("rows", std::to_string(record.rows)) +
                            Line("accesos", std::to_string(record.accesos)));
}

void MarkingRecordFile::MarkAccepted() const {
  OverwriteStateFile(path_, 0, std::string_view(kAccepted, kStateLength));
}

void MarkingRecordFile::Remove() const { RemoveStateFile(path_); }

void MarkingRecordFile::RemoveLeftover() const { RemoveStateFile(path_ + ".new"); }

std::string EarlierVersionRecordPath(const std::string& state_folder) {
  return StateFilePath(state_folder, "usage-report.record");
}

}  // namespace quorvex
