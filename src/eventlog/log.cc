#include "eventlog/log.h"

#include "platform/event_sink.h"

namespace quorvex {

void WriteEventLog(std::string_view message, std::uint16_t event_type, std::uint32_t event_id) {
  DeliverEvent(EventEntry{kEventSource, event_type, event_id, message});
}

void LogInfo(std::string_view message) {
  WriteEventLog(message, kEventInformation, kEventIdInformation);
}

void LogWarning(std::string_view message) {
  WriteEventLog(message, kEventWarning, kEventIdWarning);
}

void LogError(std::string_view message) { WriteEventLog(message, kEventError, kEventIdError); }

std::string EntryText(std::string_view procedure, std::string_view message) {
  std::string text(procedure);
  text += "()\r\n";
  text += message;
  return text;
}

}  // namespace quorvex
