// The database session: our stand-in for an ADO connection with
// forward-only record sets.
//
// A Connection is opened from an ADO-style connection string
// ("Provider=...;Password=...;User ID=...;Initial Catalog=...;
// Data Source=...;APP=..."). The "Data Source" item picks the backend:
//   sqlite:<path>   the embedded SQLite database (a relative path is taken
//                   from the program folder);
//   odbc:<dsn>      any ODBC data source, "User ID"/"Password" as UID/PWD;
//   anything else   SQL Server through the first installed ODBC driver of
//                   "ODBC Driver 18 for SQL Server", "ODBC Driver 17 for SQL
//                   Server" and, on Windows, "SQL Server", elsewhere
//                   "FreeTDS".
//
// The backends that are not SQL Server are made to run the job's SQL Server
// statements unchanged: "SELECT TOP n ..." is rewritten to "... LIMIT n".
// The embedded database also gets a GetDate() function (the local clock as
// "YYYY-MM-DD hh:mm:ss") and a session-scoped sysobjects view (Name, type;
// user tables are type 'U'); a server reached through odbc: gets both from
// its schema script (sql/postgres/schema.sql).
//
// Every failure is thrown as DatabaseError whose what() is the backend's
// own description (the driver's diagnostic records for ODBC), so that the
// jobs can trap it and write it to the event log unchanged.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvex {

class DatabaseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What a column holds, as far as the jobs' statements care: text, a
// number, a date and time, or anything else (binary data, an unknown type).
// Read from the column's declared type: on the embedded database by
// SQLite's rules of type affinity (a declared type that names DATE or TIME
// counts as a date and time), through ODBC from the driver's SQL type.
enum class ColumnKind { kText, kNumber, kDateTime, kOther };

// Whether a session may change the database. A read-only session on the
// embedded database changes nothing beside the file either: no journal, no
// write-ahead log, no change of journal mode. Through ODBC the session is
// an ordinary one: read-only means only that its user runs no statement
// that writes.
enum class DatabaseAccess { kReadWrite, kReadOnly };

// A field value as text; std::nullopt is SQL NULL. Dates come back as
// "YYYY-MM-DD hh:mm:ss[.fff]", numbers in plain decimal notation.
using FieldValue = std::optional<std::string>;

// The rows a statement returned, read forward only. All rows are fetched
// when the statement runs, so the session is free for the next statement
// while a caller is still walking the rows (SQL Server without MARS needs
// this). The values are held one after the other in one text, so a row of
// short values costs little more than its bytes; the current row is
// unpacked when it is first read.
class RowSet {
 public:
  RowSet() = default;
  explicit RowSet(std::vector<std::string> columns) : columns_(std::move(columns)) {}

  // Appends the next value: values fill the rows column by column, a row
  // being complete once it holds one value per column. For the backends,
  // before the row set is handed out.
  void AddValue(const FieldValue& value);

  // True when there is no current row (no rows at all, or past the last).
  bool Eof() const { return position_ >= RowCount(); }
  // Moves to the next row. REQUIRES: !Eof().
  void MoveNext();
  // Back to the first row (the rows are all held, so they can be walked
  // again).
  void MoveFirst() { position_ = 0; }
  // The current row's value of the named column, matched without regard to
  // letter case; valid until the next MoveNext. Throws DatabaseError when
  // the column does not exist or there is no current row.
  const FieldValue& Field(std::string_view column) const;

  // Releases every row and column, as a recordset's Close does; Eof() is
  // true afterwards.
  void Close();

  std::size_t RowCount() const { return columns_.empty() ? 0 : ends_.size() / columns_.size(); }
  const std::vector<std::string>& Columns() const { return columns_; }
  // What each column holds, in the order of Columns(); empty when the
  // backend did not say.
  const std::vector<ColumnKind>& ColumnKinds() const { return kinds_; }
  // For the backends: one kind per column.
  void SetColumnKinds(std::vector<ColumnKind> kinds) { kinds_ = std::move(kinds); }

  // How many rows a statement that returns none (an UPDATE) changed, as the
  // backend counts them; -1 when it did not say (and for statements that
  // return rows).
  long long AffectedRows() const { return affected_rows_; }
  void SetAffectedRows(long long count) { affected_rows_ = count; }

 private:
  std::vector<std::string> columns_;
  std::vector<ColumnKind> kinds_;
  std::string values_;             // every value's bytes, one after the other
  std::vector<std::size_t> ends_;  // where each value ends in values_
  std::vector<bool> nulls_;        // which values are NULL
  std::size_t position_ = 0;
  long long affected_rows_ = -1;
  mutable std::size_t unpacked_ = static_cast<std::size_t>(-1);  // row held in current_
  mutable std::vector<FieldValue> current_;
};

class Connection {
 public:
  virtual ~Connection() = default;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Runs one statement and returns its rows (empty for statements that
  // return none). Throws DatabaseError on any failure, including a
  // statement that runs longer than the command time-out and a session the
  // server has dropped (there is no reconnection).
  virtual RowSet Execute(std::string_view sql) = 0;

  // Applies to every later Execute; zero means no limit, which is also the
  // state before the first call. Throws DatabaseError if the backend cannot
  // take it.
  virtual void SetCommandTimeout(std::chrono::seconds timeout) = 0;

  // Which backend serves this session ("sqlite", "odbc", "sqlserver").
  virtual std::string BackendName() const = 0;

 protected:
  Connection() = default;
};

// One item of an ADO connection string, name as written.
struct ConnectionItem {
  std::string name;
  std::string value;
};

// Splits "Name=Value;Name=Value" into items. A value runs from the first
// '=' of its item to the next ';', so it may itself hold '='; it may be
// enclosed in double or single quotes (the quote doubled inside) or in
// braces ('}' doubled inside) to hold ';'. Names are trimmed of blanks;
// unquoted values are kept as written. Empty items (";;") are skipped.
// Throws DatabaseError for an item without '=' or an unterminated quote.
std::vector<ConnectionItem> ParseConnectionString(std::string_view text);

// Value of the named item (case-insensitive; the last one wins when the
// name is repeated), or empty when absent.
std::string ConnectionItemValue(const std::vector<ConnectionItem>& items, std::string_view name);

// The backend a connection string selects, as OpenConnection chooses it.
struct BackendChoice {
  std::string backend;  // "sqlite", "odbc" or "sqlserver", as BackendName() answers
  std::string target;   // the database file, the data source's name or the server
  std::string driver;   // the ODBC driver chosen for "sqlserver"; empty otherwise
};

// Which backend OpenConnection would use for connection_string, without
// connecting. program_folder is the folder relative sqlite: paths are taken
// from. Throws DatabaseError when none can be chosen (no Data Source, an
// empty file or data source name, no SQL Server driver installed).
BackendChoice ChooseBackend(std::string_view connection_string, const std::string& program_folder);

// Opens a session from an ADO-style connection string, on the backend
// ChooseBackend names. Throws DatabaseError (no backend, login refused,
// server unreachable, database missing).
std::unique_ptr<Connection> OpenConnection(std::string_view connection_string,
                                           const std::string& program_folder,
                                           DatabaseAccess access = DatabaseAccess::kReadWrite);

// What the database of session says it is, so that two spellings of one
// database in the settings give the same text and two databases never do:
//   SQL Server   "sqlserver:" @@SERVERNAME "/" DB_NAME()
//   PostgreSQL   "postgresql:" the server's address ":" port "/"
//                current_database() (the address is "local" over a Unix
//                socket)
//   SQLite       "sqlite:" the real path of the main database file
// For an ODBC data source of another kind the SQL Server form is tried.
// Throws DatabaseError when the database cannot say.
std::string DatabaseIdentity(Connection& session);

// The session, with every statement bound by a deadline as well: each runs
// at most min(the command time-out, the whole seconds left until
// deadline), and none is started with less than a second left (it throws
// DatabaseError saying so, without reaching the server).
std::unique_ptr<Connection> BoundByDeadline(std::unique_ptr<Connection> session,
                                            std::chrono::steady_clock::time_point deadline);

}  // namespace quorvex
