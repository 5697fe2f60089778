// The row set, the choice of backend from "Data Source", and the TOP
// rewrite shared by the backends that are not SQL Server.
#include "database/database.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>
#include <utility>

#include "database/database_backends.h"
#include "platform/utf8_path.h"
#include "util/string_util.h"

namespace quorvex {
namespace {

bool IsWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// True when `word` (a keyword) stands at text[pos] as a whole word.
bool WordAt(std::string_view text, std::size_t pos, std::string_view word) {
  if (pos + word.size() > text.size()) return false;
  if (!EqualsIgnoringAsciiCase(text.substr(pos, word.size()), word)) return false;
  if (pos > 0 && IsWordChar(text[pos - 1])) return false;
  std::size_t after = pos + word.size();
  return after == text.size() || !IsWordChar(text[after]);
}

bool HasWord(std::string_view text, std::string_view word) {
  for (std::size_t pos = 0; pos + word.size() <= text.size(); ++pos) {
    if (WordAt(text, pos, word)) return true;
  }
  return false;
}

std::size_t SkipBlanks(std::string_view text, std::size_t pos) {
  while (pos < text.size() && IsBlankOrLineBreak(text[pos])) ++pos;
  return pos;
}

class DeadlineConnection final : public Connection {
 public:
  DeadlineConnection(std::unique_ptr<Connection> session,
                     std::chrono::steady_clock::time_point deadline)
      : session_(std::move(session)), deadline_(deadline) {}

  RowSet Execute(std::string_view sql) override {
    const auto left =
        std::chrono::floor<std::chrono::seconds>(deadline_ - std::chrono::steady_clock::now());
    if (left.count() < 1) {
      throw DatabaseError("The run's time is up: the statement was not started");
    }
    const std::chrono::seconds timeout = timeout_.count() > 0 ? std::min(timeout_, left) : left;
    // Only a changed value is handed on; a backend that cannot take it
    // runs the statement under the time-out it has.
    if (timeout != applied_) {
      applied_ = timeout;
      try {
        session_->SetCommandTimeout(timeout);
      } catch (const DatabaseError&) {
      }
    }
    return session_->Execute(sql);
  }

  void SetCommandTimeout(std::chrono::seconds timeout) override {
    if (timeout.count() < 0) throw DatabaseError("A command time-out cannot be negative");
    timeout_ = timeout;
  }

  std::string BackendName() const override { return session_->BackendName(); }

 private:
  std::unique_ptr<Connection> session_;
  std::chrono::steady_clock::time_point deadline_;
  std::chrono::seconds timeout_{0};
  std::chrono::seconds applied_{0};
};

}  // namespace

namespace {

std::string FirstRowText(const RowSet& rows, std::string_view column) {
  const FieldValue& value = rows.Field(column);
  return value ? *value : std::string();
}

}  // namespace

std::string DatabaseIdentity(Connection& session) {
  if (session.BackendName() == "sqlite") {
    RowSet files = session.Execute("PRAGMA database_list");
    for (; !files.Eof(); files.MoveNext()) {
      if (FirstRowText(files, "name") != "main") continue;
      const std::string file = FirstRowText(files, "file");
      std::error_code error;
      const std::filesystem::path real = std::filesystem::canonical(PathFromUtf8(file), error);
      if (file.empty() || error) break;
      return "sqlite:" + Utf8FromPath(real);
    }
    throw DatabaseError("The embedded database does not name the file it is kept in");
  }
  if (session.BackendName() == "odbc") {
    // PostgreSQL first; any other server gets its turn below.
    try {
      RowSet rows = session.Execute(
          "SELECT COALESCE(HOST(inet_server_addr()), 'local') AS a, "
          "COALESCE(CAST(inet_server_port() AS VARCHAR), current_setting('port')) AS p, "
          "current_database() AS d");
      if (!rows.Eof()) {
        return "postgresql:" + FirstRowText(rows, "a") + ":" + FirstRowText(rows, "p") + "/" +
               FirstRowText(rows, "d");
      }
    } catch (const DatabaseError&) {
    }
  }
  RowSet rows = session.Execute("SELECT @@SERVERNAME AS s, DB_NAME() AS d");
  if (rows.Eof()) throw DatabaseError("The database server does not say its name");
  return "sqlserver:" + FirstRowText(rows, "s") + "/" + FirstRowText(rows, "d");
}

std::unique_ptr<Connection> BoundByDeadline(std::unique_ptr<Connection> session,
                                            std::chrono::steady_clock::time_point deadline) {
  return std::make_unique<DeadlineConnection>(std::move(session), deadline);
}

void RowSet::AddValue(const FieldValue& value) {
  if (value) values_ += *value;
  ends_.push_back(values_.size());
  nulls_.push_back(!value);
}

void RowSet::Close() {
  // Moved out, the buffers are freed with `released`: assigning an empty
  // row set instead could keep a text's storage.
  RowSet released = std::move(*this);
  columns_.clear();
  kinds_.clear();
  values_.clear();
  ends_.clear();
  nulls_.clear();
  current_.clear();
  position_ = 0;
  unpacked_ = static_cast<std::size_t>(-1);
}

void RowSet::MoveNext() {
  if (position_ < RowCount()) ++position_;
}

const FieldValue& RowSet::Field(std::string_view column) const {
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (!EqualsIgnoringAsciiCase(columns_[i], column)) continue;
    if (Eof()) {
      throw DatabaseError("Either BOF or EOF is True, or the current record has been deleted (" +
                          std::string(column) + ")");
    }
    if (unpacked_ != position_) {
      current_.clear();
      for (std::size_t k = position_ * columns_.size(); k < (position_ + 1) * columns_.size();
           ++k) {
        const std::size_t begin = k == 0 ? 0 : ends_[k - 1];
        if (nulls_[k]) {
          current_.emplace_back();
        } else {
          current_.emplace_back(values_.substr(begin, ends_[k] - begin));
        }
      }
      unpacked_ = position_;
    }
    return current_[i];
  }
  throw DatabaseError(
      "Item cannot be found in the collection corresponding to the requested name or "
      "ordinal: " +
      std::string(column));
}

std::string TranslateTopToLimit(std::string_view sql) {
  std::string unchanged(sql);
  std::size_t pos = SkipBlanks(sql, 0);
  if (!WordAt(sql, pos, "SELECT")) return unchanged;
  std::size_t select_end = pos + 6;
  pos = SkipBlanks(sql, select_end);
  if (pos == select_end || !WordAt(sql, pos, "TOP")) return unchanged;
  pos = SkipBlanks(sql, pos + 3);
  bool parenthesized = pos < sql.size() && sql[pos] == '(';
  if (parenthesized) pos = SkipBlanks(sql, pos + 1);
  std::size_t digits = pos;
  while (pos < sql.size() && std::isdigit(static_cast<unsigned char>(sql[pos]))) ++pos;
  std::string count(sql.substr(digits, pos - digits));
  if (count.empty()) return unchanged;
  if (parenthesized) {
    pos = SkipBlanks(sql, pos);
    if (pos >= sql.size() || sql[pos] != ')') return unchanged;
    ++pos;
  } else if (pos < sql.size() && !IsBlankOrLineBreak(sql[pos])) {
    return unchanged;
  }
  std::string_view rest = sql.substr(SkipBlanks(sql, pos));
  if (rest.empty() || WordAt(rest, 0, "PERCENT") || WordAt(rest, 0, "WITH") ||
      HasWord(rest, "LIMIT")) {
    return unchanged;
  }
  while (!rest.empty() && (IsBlankOrLineBreak(rest.back()) || rest.back() == ';')) {
    rest.remove_suffix(1);
  }
  std::string out(sql.substr(0, select_end));
  out += ' ';
  out += rest;
  out += " LIMIT ";
  out += count;
  return out;
}

std::string CommandTimeoutMessage(std::chrono::seconds timeout) {
  return "Query timeout expired: the statement ran longer than the command time-out of " +
         std::to_string(timeout.count()) + " s";
}

BackendChoice ChooseBackend(std::string_view connection_string, const std::string& program_folder) {
  const std::vector<ConnectionItem> items = ParseConnectionString(connection_string);
  // SERVERDB keeps the blanks around its value; the backend prefixes are
  // recognised whatever surrounds them, as a server name would be.
  const std::string source(TrimBlanksAndLineBreaks(ConnectionItemValue(items, "Data Source")));
  auto has_prefix = [&source](std::string_view prefix) {
    return source.size() >= prefix.size() &&
           EqualsIgnoringAsciiCase(std::string_view(source).substr(0, prefix.size()), prefix);
  };
  if (has_prefix("sqlite:")) {
    std::filesystem::path path =
        PathFromUtf8(TrimBlanksAndLineBreaks(std::string_view(source).substr(7)));
    if (path.empty()) throw DatabaseError("Data Source sqlite: names no database file");
    if (path.is_relative()) path = PathFromUtf8(program_folder) / path;
    return {"sqlite", Utf8FromPath(path), {}};
  }
  if (has_prefix("odbc:")) {
    const std::string dsn(TrimBlanksAndLineBreaks(std::string_view(source).substr(5)));
    if (dsn.empty()) throw DatabaseError("Data Source odbc: names no data source");
    return {"odbc", dsn, {}};
  }
  if (source.empty()) throw DatabaseError("The connection string names no Data Source");
  std::optional<std::string> driver = ChooseSqlServerDriver(InstalledOdbcDrivers());
  if (!driver) {
    std::string names;
    for (std::string_view name : kSqlServerDrivers) {
      names += names.empty() ? "\"" : ", \"";
      names += name;
      names += '"';
    }
    throw DatabaseError("No ODBC driver for SQL Server is installed (looked for " + names + ")");
  }
  return {"sqlserver", source, *driver};
}

std::unique_ptr<Connection> OpenConnection(std::string_view connection_string,
                                           const std::string& program_folder,
                                           DatabaseAccess access) {
  const BackendChoice choice = ChooseBackend(connection_string, program_folder);
  if (choice.backend == "sqlite") return OpenSqliteConnection(choice.target, access);
  const std::vector<ConnectionItem> items = ParseConnectionString(connection_string);
  const std::string user_id = ConnectionItemValue(items, "User ID");
  const std::string password = ConnectionItemValue(items, "Password");
  // The OLE DB provider this stands in for waits 15 s for a login.
  constexpr std::chrono::seconds kLoginTimeout{15};
  if (choice.backend == "odbc") {
    return OpenOdbcConnection(BuildDsnOdbcString(choice.target, user_id, password), "odbc", true,
                              kLoginTimeout);
  }
  SqlServerLogin login{choice.target, ConnectionItemValue(items, "Initial Catalog"), user_id,
                       password, ConnectionItemValue(items, "APP")};
  return OpenOdbcConnection(BuildSqlServerOdbcString(choice.driver, login), "sqlserver", false,
                            kLoginTimeout);
}

}  // namespace quorvex
