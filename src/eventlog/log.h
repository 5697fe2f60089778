// The one writer of the system's event log.
//
// Every message for an operator goes through LogInfo, LogWarning or
// LogError; each writes exactly one entry with kEventSource as source and a
// fixed type and id. Nothing is kept between calls and no call
// ever fails visibly: a lost sink loses the entry, never the caller's work.
// Where the entries go is the event sink's business (platform/event_sink.h),
// decided afresh on every call.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quorvex {

// The source of every entry: the application title, under which the
// installers register the event source and which the journal shows as the
// identifier. The job's kApplicationTitle is this name.
inline constexpr char kEventSource[] = "Quorvex";

inline constexpr std::uint16_t kEventError = 1;
inline constexpr std::uint16_t kEventWarning = 2;
inline constexpr std::uint16_t kEventInformation = 4;

inline constexpr std::uint32_t kEventIdInformation = 1001;
inline constexpr std::uint32_t kEventIdWarning = 1002;
inline constexpr std::uint32_t kEventIdError = 1003;

void WriteEventLog(std::string_view message, std::uint16_t event_type, std::uint32_t event_id);

void LogInfo(std::string_view message);
void LogWarning(std::string_view message);
void LogError(std::string_view message);

// The text of an entry about what happened in a procedure: its name, "()",
// CRLF and the message ("GetPingTimbrado()\r\n<message>").
std::string EntryText(std::string_view procedure, std::string_view message);

}  // namespace quorvex
