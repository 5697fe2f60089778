// What every event sink shares: the choice between the file and the
// system's log, the JSON line of the file sink and its time stamp.
#include "platform/event_sink.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "util/utf8.h"

namespace quorvex {

std::string LocalTimeText() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const long millis = static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  char result[48];
  std::snprintf(result, sizeof result, "%s.%03ld", text, millis);
  return result;
}

std::string FormatEventJson(const EventEntry& entry, std::string_view time) {
  std::string out = "{\"source\":";
  AppendJsonString(out, entry.source);
  out += ",\"type\":" + std::to_string(entry.type);
  out += ",\"id\":" + std::to_string(entry.id);
  out += ",\"message\":";
  AppendJsonString(out, entry.message);
  out += ",\"time\":";
  AppendJsonString(out, time);
  out += '}';
  return out;
}

void DeliverEvent(const EventEntry& entry) noexcept {
  try {
    const char* file = std::getenv("QUORVEX_EVENT_LOG");
    if (file != nullptr && *file != '\0' &&
        AppendEventLine(file, FormatEventJson(entry, LocalTimeText()) + "\n")) {
      return;
    }
    ReportToSystemLog(entry);
  } catch (...) {
    // Out of memory while composing the entry: the entry is lost, the
    // caller goes on.
  }
}

}  // namespace quorvex
