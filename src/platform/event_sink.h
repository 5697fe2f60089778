// Where event-log entries go on this platform.
//
// DeliverEvent never throws and never reports failure: an entry that no
// sink takes is lost, and the caller's work goes on.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quorvex {

struct EventEntry {
  std::string_view source;
  std::uint16_t type;  // 4 information, 2 warning, 1 error
  std::uint32_t id;    // 1001, 1002, 1003
  std::string_view message;
};

// Delivers one entry. With QUORVEX_EVENT_LOG naming a regular file (or one
// that does not exist yet) the entry is appended there as one JSON object
// per line; otherwise, and when it names anything else (a named pipe, a
// device, a folder) or a file that cannot be opened or written, it goes
// where it goes without the variable: the systemd journal, or syslog where
// no journal runs (the Windows event log there).
void DeliverEvent(const EventEntry& entry) noexcept;

// The JSON object written to the file sink for entry (no line break): keys
// source, type, id, message, time. Bytes of the message that are not valid
// UTF-8 become '?'. Exposed for tests.
std::string FormatEventJson(const EventEntry& entry, std::string_view time);

// The local time as the file sink writes it: 2026-01-31T23:59:59.123.
std::string LocalTimeText();

// The platform's parts of DeliverEvent (event_sink-posix.cc,
// event_sink-win32.cc). Both fail silently: the entry is then lost.
// Appends line to the file at path in one write, so that the entries of
// concurrent processes do not interleave. Returns true only when the whole
// line was written; false, never blocking, when path names something other
// than a regular file, cannot be opened or created, or the write failed.
bool AppendEventLine(const char* path, const std::string& line);
// The system's own log (the -posix and -win32 files say which).
void ReportToSystemLog(const EventEntry& entry);

}  // namespace quorvex
