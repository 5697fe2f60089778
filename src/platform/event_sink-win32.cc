// Entries go to the Windows event log, Application log of the local
// computer: the source is registered and deregistered on every call, and
// the entry's one insertion string (the message in the ANSI code page) is
// also its binary data, terminating zero included. With QUORVEX_EVENT_LOG
// naming a file, entries are appended there instead, as on Linux.
#include <windows.h>

#include <string>
#include <vector>

#include "platform/event_sink.h"
#include "platform/windows_text.h"

namespace quorvex {

bool AppendEventLine(const char* path, const std::string& line) {
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return false;
  }
  // Append-only access: every write lands at the end of the file, so the
  // entries of concurrent processes do not interleave.
  HANDLE file =
      CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  // A pipe, the console or a device such as NUL is no log file; a write to
  // a pipe could block for good.
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    return false;
  }
  DWORD written = 0;
  const BOOL wrote =
      WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(file);
  return wrote && written == line.size();
}

void ReportToSystemLog(const EventEntry& entry) {
  const std::string source(entry.source);
  HANDLE log = RegisterEventSourceA("", source.c_str());
  // The converted text and its terminating zero, once as the insertion
  // string and once as the binary data.
  const std::string converted = Utf8ToAnsiCodePage(entry.message);
  std::vector<char> buffer(converted.size() + 1, '\0');
  converted.copy(buffer.data(), converted.size());
  const char* strings[] = {buffer.data()};
  ReportEventA(log, entry.type, 0, entry.id, nullptr, 1, static_cast<DWORD>(buffer.size()), strings,
               buffer.data());
  DeregisterEventSource(log);
}

}  // namespace quorvex
