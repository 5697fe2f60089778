#include "reporting/marking_record.h"

#include <sstream>

#include "platform/state_directory.h"
#include "reporting/modulo.h"

namespace quorvex {
namespace {

constexpr char kFileName[] = "usage-report.record";
// The first line: the state, both words of the same length so that one
// can replace the other in place.
constexpr char kSending[] = "SENDING ";
constexpr char kAccepted[] = "ACCEPTED";
constexpr std::size_t kStateLength = sizeof kAccepted - 1;
static_assert(sizeof kSending == sizeof kAccepted);
// Far more than a record of settings values holds.
constexpr std::size_t kMaxRecordBytes = 64 * 1024;

std::string Line(const char* key, const std::string& value) {
  if (value.find_first_of("\r\n") != std::string::npos) {
    throw StateError(std::string("the ") + key + " holds a line break and cannot be recorded");
  }
  return std::string(key) + "=" + value + "\n";
}

}  // namespace

MarkingRecordFile::MarkingRecordFile(const std::string& state_folder)
    : path_(StateFilePath(state_folder, kFileName)) {}

std::optional<MarkingRecord> MarkingRecordFile::Read() const {
  const std::optional<std::string> content = ReadStateFile(path_, kMaxRecordBytes);
  if (!content) return std::nullopt;
  std::istringstream lines(*content);
  std::string state;
  std::getline(lines, state);
  MarkingRecord record;
  record.accepted = state == kAccepted;
  bool cutoff = false, server = false, database = false;
  for (std::string line; std::getline(lines, line);) {
    const std::size_t equals = line.find('=');
    const std::string key = line.substr(0, equals);
    const std::string value = equals == std::string::npos ? "" : line.substr(equals + 1);
    if (key == "cut-off") cutoff = true, record.cutoff = value;
    if (key == "server") server = true, record.server = value;
    if (key == "database") database = true, record.database = value;
  }
  FechaHora fecha;
  if ((state != kAccepted && state != kSending) || !cutoff || !server || !database ||
      !ParseFechaHora(record.cutoff, fecha) || Formato_Fecha(fecha) != record.cutoff) {
    throw StateError(path_ + " is not a record of a usage report");
  }
  return record;
}

void MarkingRecordFile::WriteSending(const MarkingRecord& record) const {
  WriteStateFile(path_, std::string(kSending) + "\n" + Line("cut-off", record.cutoff) +
                            Line("server", record.server) + Line("database", record.database));
}

void MarkingRecordFile::MarkAccepted() const {
  OverwriteStateFile(path_, 0, std::string_view(kAccepted, kStateLength));
}

void MarkingRecordFile::Remove() const { RemoveStateFile(path_); }

}  // namespace quorvex
