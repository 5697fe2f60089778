// The event entries the reports wrote, as the (type, message) pairs the
// tests compare.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "support/installation.h"

namespace quorvex::testing {

struct Entry {
  int type;
  std::string message;
  bool operator==(const Entry&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const Entry& e) {
  return out << "{" << e.type << ", \"" << e.message << "\"}";
}

inline std::vector<Entry> ReadEntries(const std::string& path) {
  std::vector<Entry> entries;
  for (const LoggedEvent& e : ReadEventLog(path)) entries.push_back(Entry{e.type, e.message});
  return entries;
}

}  // namespace quorvex::testing
