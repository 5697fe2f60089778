// The embedded database: a SQLite file made to answer the statements
// written for SQL Server. It gets GetDate(), a sysobjects catalog view, the
// TOP rewrite, and a command time-out enforced by a progress handler.
#include <sqlite3.h>

#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include "database/database.h"
#include "database/database_backends.h"
#include "platform/utf8_path.h"

namespace quorvex {
namespace {

struct SqliteCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct StatementFinalizer {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using SqliteHandle = std::unique_ptr<sqlite3, SqliteCloser>;
using StatementHandle = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

// How many virtual machine steps run between two looks at the clock.
constexpr int kProgressSteps = 1000;
// Until a command time-out is set, a locked database is waited for as long
// as ADO's default command time-out.
constexpr int kDefaultBusyTimeoutMs = 30000;

// GetDate(): the local clock as "YYYY-MM-DD hh:mm:ss", like SQL Server's
// datetime shown as text.
void GetDateFunction(sqlite3_context* context, int, sqlite3_value**) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  char text[32];
  if (localtime_r(&now, &local) == nullptr ||
      std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local) == 0) {
    sqlite3_result_error(context, "GetDate(): the local clock cannot be read", -1);
    return;
  }
  sqlite3_result_text(context, text, -1, SQLITE_TRANSIENT);
}

// Plain decimal notation, the shortest that reads back as the same value.
std::string RealText(double value) {
  char text[400];
  std::to_chars_result result =
      std::to_chars(text, text + sizeof text, value, std::chars_format::fixed);
  if (result.ec != std::errc()) result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

FieldValue ColumnValue(sqlite3_stmt* statement, int column) {
  switch (sqlite3_column_type(statement, column)) {
    case SQLITE_NULL:
      return std::nullopt;
    case SQLITE_INTEGER:
      return std::to_string(sqlite3_column_int64(statement, column));
    case SQLITE_FLOAT:
      return RealText(sqlite3_column_double(statement, column));
    default: {
      // Text and blobs alike come back as their bytes.
      const void* bytes = sqlite3_column_blob(statement, column);
      int size = sqlite3_column_bytes(statement, column);
      return bytes ? std::string(static_cast<const char*>(bytes), size) : std::string();
    }
  }
}

// What a column holds, from its declared type by SQLite's rules of type
// affinity; a type that names a date or a time is one, whatever its
// affinity. An expression has no declared type.
ColumnKind KindOf(const char* declared) {
  if (declared == nullptr) return ColumnKind::kOther;
  std::string type(declared);
  for (char& c : type) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const auto has = [&type](const char* word) { return type.find(word) != std::string::npos; };
  if (has("DATE") || has("TIME")) return ColumnKind::kDateTime;
  if (has("INT")) return ColumnKind::kNumber;
  if (has("CHAR") || has("CLOB") || has("TEXT")) return ColumnKind::kText;
  if (has("BLOB") || type.empty()) return ColumnKind::kOther;
  return ColumnKind::kNumber;  // REAL, FLOAT, DOUBLE, NUMERIC, DECIMAL and the rest
}

// The URI that opens the file at path read-only. Where no write-ahead log
// lies beside it, the file is opened as immutable: SQLite then creates no
// shared-memory file, takes no lock and reads the file alone. With a log
// present (a run is at work, or ended without removing it) the log holds
// rows the file does not yet have, so it is read as well, through the files
// already there.
std::string ReadOnlyUri(const std::string& path) {
  std::string uri = "file:";
#ifdef _WIN32
  uri += '/';  // file:/C:/folder/file
#endif
  for (const char c : path) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) || std::strchr("-._~/:", c) != nullptr) {
      uri += c;
    } else if (c == '\\') {
      uri += '/';
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
      uri += escaped;
    }
  }
  std::error_code ignored;
  const bool has_log = std::filesystem::exists(PathFromUtf8(path + "-wal"), ignored);
  return uri + (has_log ? "?mode=ro" : "?mode=ro&immutable=1");
}

bool StartsWithSet(std::string_view sql) {
  std::size_t pos = sql.find_first_not_of(" \t\r\n");
  if (pos == std::string_view::npos || sql.size() < pos + 4) return false;
  std::string word(sql.substr(pos, 4));
  for (char& c : word) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return word == "SET ";
}

class SqliteConnection final : public Connection {
 public:
  SqliteConnection(SqliteHandle db, std::string path)
      : db_(std::move(db)), path_(std::move(path)) {}

  RowSet Execute(std::string_view sql) override {
    if (StartsWithSet(sql)) {
      throw DatabaseError("The embedded SQLite database has no session options: " +
                          std::string(sql));
    }
    std::string text = TranslateTopToLimit(sql);
    deadline_ = timeout_.count() > 0 ? Clock::now() + timeout_ : Clock::time_point::max();
    timed_out_ = false;

    RowSet result;
    bool have_result = false;
    const char* next = text.c_str();
    while (*next != '\0') {
      sqlite3_stmt* raw = nullptr;
      const char* tail = nullptr;
      if (sqlite3_prepare_v2(db_.get(), next, -1, &raw, &tail) != SQLITE_OK) Fail();
      StatementHandle statement(raw);
      next = tail;
      if (!statement) continue;  // only blanks or a comment were left
      RowSet rows = Run(statement.get());
      if (!have_result && !rows.Columns().empty()) {
        result = std::move(rows);
        have_result = true;
      } else if (!have_result) {
        result.SetAffectedRows(sqlite3_changes64(db_.get()));
      }
    }
    return result;
  }

  void SetCommandTimeout(std::chrono::seconds timeout) override {
    if (timeout.count() < 0) throw DatabaseError("A command time-out cannot be negative");
    timeout_ = timeout;
    int busy_ms = timeout.count() > 0
                      ? static_cast<int>(std::min<long long>(timeout.count() * 1000LL, 0x7fffffff))
                      : kDefaultBusyTimeoutMs;
    sqlite3_busy_timeout(db_.get(), busy_ms);
    if (timeout.count() > 0) {
      sqlite3_progress_handler(db_.get(), kProgressSteps, &SqliteConnection::Progress, this);
    } else {
      sqlite3_progress_handler(db_.get(), 0, nullptr, nullptr);
    }
  }

  std::string BackendName() const override { return "sqlite"; }

 private:
  using Clock = std::chrono::steady_clock;

  static int Progress(void* self) {
    auto* connection = static_cast<SqliteConnection*>(self);
    if (Clock::now() < connection->deadline_) return 0;
    connection->timed_out_ = true;
    return 1;  // interrupts the statement with SQLITE_INTERRUPT
  }

  RowSet Run(sqlite3_stmt* statement) {
    int count = sqlite3_column_count(statement);
    std::vector<std::string> columns;
    for (int i = 0; i < count; ++i) {
      const char* name = sqlite3_column_name(statement, i);
      columns.emplace_back(name ? name : "");
    }
    RowSet rows(std::move(columns));
    std::vector<ColumnKind> kinds;
    for (int i = 0; i < count; ++i) kinds.push_back(KindOf(sqlite3_column_decltype(statement, i)));
    rows.SetColumnKinds(std::move(kinds));
    for (;;) {
      int step = sqlite3_step(statement);
      if (step == SQLITE_DONE) break;
      if (step != SQLITE_ROW) Fail();
      for (int i = 0; i < count; ++i) rows.AddValue(ColumnValue(statement, i));
    }
    return rows;
  }

  [[noreturn]] void Fail() const {
    if (timed_out_) throw DatabaseError(CommandTimeoutMessage(timeout_));
    std::string message = sqlite3_errmsg(db_.get());
    // A freshly created file is the usual cause of a missing table: say what
    // to do about it, not only what is missing.
    if (message.starts_with("no such table") && !HasTables()) {
      message += " (the database file " + path_ +
                 " holds no tables: load the schema script sql/sqlite/schema.sql of the program "
                 "folder into it, "
                 "for example with sqlite3 " +
                 path_ + " < sql/sqlite/schema.sql)";
    }
    throw DatabaseError(message);
  }

  bool HasTables() const {
    sqlite3_stmt* raw = nullptr;
    sqlite3_prepare_v2(db_.get(), "SELECT 1 FROM main.sqlite_master WHERE type = 'table'", -1, &raw,
                       nullptr);
    StatementHandle statement(raw);
    return !statement || sqlite3_step(statement.get()) == SQLITE_ROW;
  }

  SqliteHandle db_;
  std::string path_;
  std::chrono::seconds timeout_{0};
  Clock::time_point deadline_ = Clock::time_point::max();
  bool timed_out_ = false;
};

void RunSetup(sqlite3* db, const char* sql, const std::string& path) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
    std::string text = message ? message : sqlite3_errmsg(db);
    sqlite3_free(message);
    throw DatabaseError(text + ": " + path);
  }
}

}  // namespace

std::unique_ptr<Connection> OpenSqliteConnection(const std::string& path, DatabaseAccess access) {
  const bool read_only = access == DatabaseAccess::kReadOnly;
  sqlite3* raw = nullptr;
  int rc = read_only ? sqlite3_open_v2(ReadOnlyUri(path).c_str(), &raw,
                                       SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr)
                     : sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
  SqliteHandle db(raw);
  if (rc != SQLITE_OK) {
    std::string text = db ? sqlite3_errmsg(db.get()) : sqlite3_errstr(rc);
    throw DatabaseError(text + ": " + path);
  }
  sqlite3_extended_result_codes(db.get(), 1);
  sqlite3_busy_timeout(db.get(), kDefaultBusyTimeoutMs);
  // Reading the schema first turns "not a database" into an open failure.
  RunSetup(db.get(), "SELECT count(*) FROM sqlite_master", path);
  // WAL keeps the jobs' single-row updates cheap. A folder we may not
  // write the log into leaves the file's own journal mode, which still works.
  if (!read_only) sqlite3_exec(db.get(), "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
  if (sqlite3_create_function_v2(db.get(), "GetDate", 0, SQLITE_UTF8, nullptr, &GetDateFunction,
                                 nullptr, nullptr, nullptr) != SQLITE_OK) {
    throw DatabaseError(std::string(sqlite3_errmsg(db.get())) + ": " + path);
  }
  // SQL Server's catalog as far as the jobs read it: user tables are type
  // 'U', views 'V'. A temporary view lives only with this session.
  RunSetup(db.get(),
           "CREATE TEMP VIEW sysobjects AS "
           "SELECT name AS Name, CASE type WHEN 'table' THEN 'U' ELSE 'V' END AS type "
           "FROM main.sqlite_master "
           "WHERE type IN ('table', 'view') AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\'",
           path);
  return std::make_unique<SqliteConnection>(std::move(db), path);
}

}  // namespace quorvex
