// Reads the event log file the job writes when QUORVEX_EVENT_LOG names
// one: one JSON object per line, of which the tests look at "type" and
// "message".
#pragma once

#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "central_service_fixture.h"

namespace quorvex::testing {

struct Entry {
  int type;
  std::string message;
  bool operator==(const Entry&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const Entry& e) {
  return out << "{" << e.type << ", \"" << e.message << "\"}";
}

// Reads the value of a JSON string starting at text[pos] (the opening quote).
inline std::string JsonString(const std::string& text, std::size_t pos) {
  std::string out;
  for (++pos; pos < text.size() && text[pos] != '"'; ++pos) {
    if (text[pos] != '\\') {
      out += text[pos];
      continue;
    }
    char c = text[++pos];
    switch (c) {
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case 't':
        out += '\t';
        break;
      case 'b':
        out += '\b';
        break;
      case 'f':
        out += '\f';
        break;
      case 'u': {
        unsigned code = std::stoul(text.substr(pos + 1, 4), nullptr, 16);
        pos += 4;
        if (code < 0x80) {
          out += static_cast<char>(code);
        } else if (code < 0x800) {
          out += static_cast<char>(0xC0 | (code >> 6));
          out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
          out += static_cast<char>(0xE0 | (code >> 12));
          out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
          out += static_cast<char>(0x80 | (code & 0x3F));
        }
        break;
      }
      default:
        out += c;
    }
  }
  return out;
}

inline std::vector<Entry> ReadEntries(const std::string& path) {
  std::vector<Entry> entries;
  std::string text = ReadFileBytes(path);
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (line.empty()) continue;
    Entry e{};
    std::size_t type = line.find("\"type\":");
    if (type != std::string::npos) e.type = std::atoi(line.c_str() + type + 7);
    std::size_t message = line.find("\"message\":");
    if (message != std::string::npos) e.message = JsonString(line, line.find('"', message + 10));
    entries.push_back(e);
  }
  return entries;
}

}  // namespace quorvex::testing
