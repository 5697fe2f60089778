// Reading ADO connection strings and writing ODBC ones.
#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "database/database.h"
#include "database/database_backends.h"
#include "util/string_util.h"

namespace quorvex {
namespace {

// Error descriptions name the item by its place and say what is wrong, but
// never repeat any text of the string: a malformed string usually comes from
// a password holding a quote, brace or semicolon, and the description goes
// to the event log.
DatabaseError Malformed(std::size_t item, const char* problem) {
  return DatabaseError("The connection string cannot be read: item " + std::to_string(item) + " " +
                       problem +
                       " (a value in the settings file may hold a quote, brace or semicolon)");
}

// Reads an enclosed value starting at text[pos] (the opening character)
// and returns it with the doubled closing character undone; pos ends just
// after the closing character. item is the item's place, for the error.
std::string ReadEnclosed(std::string_view text, std::size_t& pos, char close, std::size_t item) {
  std::string value;
  ++pos;
  while (pos < text.size()) {
    char c = text[pos++];
    if (c != close) {
      value += c;
    } else if (pos < text.size() && text[pos] == close) {
      value += close;
      ++pos;
    } else {
      return value;
    }
  }
  throw Malformed(item, "has a quoted value that is never closed");
}

}  // namespace

std::vector<ConnectionItem> ParseConnectionString(std::string_view text) {
  std::vector<ConnectionItem> items;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find_first_of(";=", pos);
    if (end == std::string_view::npos || text[end] == ';') {
      std::string_view stray = TrimBlanksAndLineBreaks(
          text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos));
      if (!stray.empty()) throw Malformed(items.size() + 1, "has no '='");
      if (end == std::string_view::npos) break;
      pos = end + 1;
      continue;
    }
    ConnectionItem item;
    item.name = std::string(TrimBlanksAndLineBreaks(text.substr(pos, end - pos)));
    pos = end + 1;
    std::size_t first = pos;
    while (first < text.size() && IsBlankOrLineBreak(text[first])) ++first;
    char open = first < text.size() ? text[first] : '\0';
    if (open == '"' || open == '\'' || open == '{') {
      pos = first;
      item.value = ReadEnclosed(text, pos, open == '{' ? '}' : open, items.size() + 1);
      std::size_t next = text.find(';', pos);
      if (!TrimBlanksAndLineBreaks(
               text.substr(pos, next == std::string_view::npos ? next : next - pos))
               .empty()) {
        throw Malformed(items.size() + 1, "has text after its quoted value");
      }
      pos = next == std::string_view::npos ? text.size() : next + 1;
    } else {
      std::size_t next = text.find(';', pos);
      if (next == std::string_view::npos) next = text.size();
      item.value = std::string(text.substr(pos, next - pos));
      pos = next + 1;
    }
    if (item.name.empty()) throw Malformed(items.size() + 1, "has no name");
    items.push_back(std::move(item));
  }
  return items;
}

std::string ConnectionItemValue(const std::vector<ConnectionItem>& items, std::string_view name) {
  for (auto it = items.rbegin(); it != items.rend(); ++it) {
    if (EqualsIgnoringAsciiCase(it->name, name)) return it->value;
  }
  return {};
}

std::optional<std::string> ChooseSqlServerDriver(const std::vector<std::string>& installed) {
  for (std::string_view wanted : kSqlServerDrivers) {
    if (std::find(installed.begin(), installed.end(), wanted) != installed.end()) {
      return std::string(wanted);
    }
  }
  return std::nullopt;
}

std::string OdbcValue(std::string_view value) {
  bool plain =
      value.find_first_of(";{}") == std::string_view::npos &&
      (value.empty() || (!IsBlankOrLineBreak(value.front()) && !IsBlankOrLineBreak(value.back())));
  if (plain) return std::string(value);
  std::string braced = "{";
  for (char c : value) {
    braced += c;
    if (c == '}') braced += '}';
  }
  braced += '}';
  return braced;
}

namespace {

void AddItem(std::string& out, std::string_view name, std::string_view value) {
  if (!out.empty()) out += ';';
  out += name;
  out += '=';
  out += OdbcValue(value);
}

}  // namespace

std::string BuildSqlServerOdbcString(std::string_view driver, const SqlServerLogin& login) {
  std::string out;
  out += "DRIVER={";
  out += driver;  // driver names never hold '}'
  out += '}';
  std::string_view server = TrimBlanksAndLineBreaks(login.server);
  if (driver == "FreeTDS") {
    // FreeTDS reads "host\instance" itself but not "host,port".
    std::size_t comma = server.find(',');
    if (comma != std::string_view::npos) {
      AddItem(out, "SERVER", TrimBlanksAndLineBreaks(server.substr(0, comma)));
      AddItem(out, "PORT", TrimBlanksAndLineBreaks(server.substr(comma + 1)));
    } else {
      AddItem(out, "SERVER", server);
    }
  } else {
    AddItem(out, "SERVER", server);
  }
  if (!login.database.empty()) AddItem(out, "DATABASE", login.database);
  AddItem(out, "UID", login.user_id);
  AddItem(out, "PWD", login.password);
  if (!login.app.empty()) AddItem(out, "APP", login.app);
  // Driver 18 encrypts by default and rejects a self-signed certificate;
  // the OLE DB provider this replaces did not encrypt, so keep it optional.
  if (driver == "ODBC Driver 18 for SQL Server") AddItem(out, "Encrypt", "Optional");
  return out;
}

std::string BuildDsnOdbcString(std::string_view dsn, std::string_view user_id,
                               std::string_view password) {
  std::string out;
  AddItem(out, "DSN", dsn);
  if (!user_id.empty()) AddItem(out, "UID", user_id);
  if (!password.empty()) AddItem(out, "PWD", password);
  return out;
}

}  // namespace quorvex
