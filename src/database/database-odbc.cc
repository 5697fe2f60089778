// Sessions through unixODBC: SQL Server (Microsoft's drivers or FreeTDS)
// and any data source named in odbc.ini. Every statement's rows are read
// completely before Execute returns, so the session is free again for the
// next statement (SQL Server without MARS allows one open result).
//
// Every text crosses the ODBC boundary as UTF-16 (the ...W functions and
// SQL_C_WCHAR data): the program's own texts are UTF-8, and wide characters
// are the one form in which a driver hands over accented text unchanged
// whatever the code page of the server, the client or the driver. The
// narrow functions are also mere stubs in some driver managers.
#ifdef _WIN32
#include <windows.h>  // the ODBC headers of Windows build on its types
#endif
#include <sql.h>
#include <sqlext.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "database/database.h"
#include "database/database_backends.h"
#include "util/utf8.h"

namespace quorvex {
namespace {

constexpr std::chrono::seconds kDefaultLoginTimeout{15};
constexpr std::chrono::seconds kLoginMargin{5};

constexpr char32_t kReplacement = 0xFFFD;

// UTF-8 to NUL-terminated UTF-16; a byte that does not begin a valid
// sequence becomes U+FFFD.
std::vector<SQLWCHAR> ToWide(std::string_view text) {
  std::vector<SQLWCHAR> out;
  out.reserve(text.size() + 1);
  for (std::size_t i = 0; i < text.size();) {
    Utf8Char c = DecodeUtf8(text, i);
    if (c.length == 0) c = {kReplacement, 1};
    if (c.code >= 0x10000) {
      const char32_t above = c.code - 0x10000;
      out.push_back(static_cast<SQLWCHAR>(0xD800 + (above >> 10)));
      out.push_back(static_cast<SQLWCHAR>(0xDC00 + (above & 0x3FF)));
    } else {
      out.push_back(static_cast<SQLWCHAR>(c.code));
    }
    i += c.length;
  }
  out.push_back(0);
  return out;
}

// UTF-16 to UTF-8; a surrogate without its partner becomes U+FFFD.
std::string ToUtf8(const SQLWCHAR* text, std::size_t length) {
  std::string out;
  out.reserve(length);
  for (std::size_t i = 0; i < length; ++i) {
    char32_t code = text[i];
    if (code >= 0xD800 && code <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      code = kReplacement;
    }
    AppendUtf8(code, out);
  }
  return out;
}

// A NUL-terminated wide text as UTF-8.
std::string ToUtf8(const SQLWCHAR* text) {
  std::size_t length = 0;
  while (text[length] != 0) ++length;
  return ToUtf8(text, length);
}

// One ODBC handle, freed when it goes out of scope.
class OdbcHandle {
 public:
  OdbcHandle(SQLSMALLINT type, SQLHANDLE parent) : type_(type) {
    if (!SQL_SUCCEEDED(SQLAllocHandle(type, parent, &handle_))) handle_ = SQL_NULL_HANDLE;
  }
  ~OdbcHandle() {
    if (handle_ != SQL_NULL_HANDLE) SQLFreeHandle(type_, handle_);
  }
  OdbcHandle(OdbcHandle&& other) noexcept
      : type_(other.type_), handle_(std::exchange(other.handle_, SQLHANDLE{})) {}
  OdbcHandle(const OdbcHandle&) = delete;
  OdbcHandle& operator=(const OdbcHandle&) = delete;

  SQLHANDLE get() const { return handle_; }
  SQLSMALLINT type() const { return type_; }
  // Gives the handle up without freeing it: something still uses it.
  void Abandon() { handle_ = SQL_NULL_HANDLE; }
  explicit operator bool() const { return handle_ != SQL_NULL_HANDLE; }

 private:
  SQLSMALLINT type_;
  SQLHANDLE handle_ = SQL_NULL_HANDLE;
};

// All diagnostic records of a handle, one per line, as the driver wrote
// them ("[unixODBC][FreeTDS][SQL Server]Unable to connect ...").
std::string Diagnostics(const OdbcHandle& handle) {
  std::string text;
  std::string last;
  for (SQLSMALLINT record = 1;; ++record) {
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLWCHAR message[SQL_MAX_MESSAGE_LENGTH + 1] = {};
    SQLSMALLINT length = 0;
    SQLRETURN rc = SQLGetDiagRecW(handle.type(), handle.get(), record, state, &native, message,
                                  SQL_MAX_MESSAGE_LENGTH + 1, &length);
    if (!SQL_SUCCEEDED(rc)) break;
    // FreeTDS reports a refused connection twice in a row; once is enough.
    std::string line = ToUtf8(message);
    // Some drivers end a record with a line break of their own.
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) {
      line.pop_back();
    }
    if (line == last) continue;
    if (!text.empty()) text += '\n';
    text += line;
    last = std::move(line);
  }
  return text;
}

[[noreturn]] void Fail(const OdbcHandle& handle, const std::string& what) {
  std::string diagnostics = Diagnostics(handle);
  throw DatabaseError(diagnostics.empty() ? what : diagnostics);
}

OdbcHandle MakeEnvironment() {
  OdbcHandle environment(SQL_HANDLE_ENV, SQL_NULL_HANDLE);
  if (!environment)
    throw DatabaseError(
        "The ODBC environment cannot be created (is the unixODBC driver manager, libodbc, "
        "installed?)");
  SQLRETURN rc = SQLSetEnvAttr(environment.get(), SQL_ATTR_ODBC_VERSION,
                               reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  if (!SQL_SUCCEEDED(rc)) Fail(environment, "ODBC 3 cannot be selected");
  return environment;
}

// The value of column `column` of the current row, as UTF-8; long values
// arrive in several pieces, which are joined before the conversion so that
// a surrogate pair split between two pieces stays whole.
FieldValue ReadField(const OdbcHandle& statement, SQLUSMALLINT column) {
  std::vector<SQLWCHAR> value;
  SQLWCHAR buffer[2048];
  constexpr std::size_t kCapacity = sizeof buffer / sizeof buffer[0] - 1;  // less the terminator
  for (;;) {
    SQLLEN indicator = 0;
    SQLRETURN rc =
        SQLGetData(statement.get(), column, SQL_C_WCHAR, buffer, sizeof buffer, &indicator);
    if (rc == SQL_NO_DATA) break;  // every piece has been read
    if (!SQL_SUCCEEDED(rc)) Fail(statement, "A column value cannot be read");
    if (indicator == SQL_NULL_DATA) return std::nullopt;
    // The indicator counts bytes; with SQL_SUCCESS_WITH_INFO the buffer is
    // full (less its terminator).
    std::size_t piece = kCapacity;
    if (indicator != SQL_NO_TOTAL &&
        static_cast<std::size_t>(indicator) / sizeof(SQLWCHAR) < piece) {
      piece = static_cast<std::size_t>(indicator) / sizeof(SQLWCHAR);
    }
    value.insert(value.end(), buffer, buffer + piece);
    if (rc == SQL_SUCCESS) break;
  }
  return ToUtf8(value.data(), value.size());
}

// What a column of the given SQL type holds. SQL Server's own time types
// (time, datetimeoffset) have numbers of their own.
ColumnKind KindOf(SQLSMALLINT type) {
  constexpr SQLSMALLINT kSqlServerTime = -154;
  constexpr SQLSMALLINT kSqlServerTimestampOffset = -155;
  switch (type) {
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR:
      return ColumnKind::kText;
    case SQL_NUMERIC:
    case SQL_DECIMAL:
    case SQL_INTEGER:
    case SQL_SMALLINT:
    case SQL_TINYINT:
    case SQL_BIGINT:
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
      return ColumnKind::kNumber;
    case SQL_DATETIME:
    case SQL_TIME:
    case SQL_TIMESTAMP:
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME:
    case SQL_TYPE_TIMESTAMP:
    case kSqlServerTime:
    case kSqlServerTimestampOffset:
      return ColumnKind::kDateTime;
    default:
      return ColumnKind::kOther;
  }
}

class OdbcConnection final : public Connection {
 public:
  OdbcConnection(std::string backend_name, bool translate_top)
      : environment_(MakeEnvironment()),
        connection_(SQL_HANDLE_DBC, environment_.get()),
        backend_name_(std::move(backend_name)),
        translate_top_(translate_top) {
    if (!connection_) Fail(environment_, "The ODBC connection cannot be created");
  }

  ~OdbcConnection() override {
    if (connected_) SQLDisconnect(connection_.get());
  }

  void Connect(const std::string& connection_string, std::chrono::seconds login_timeout) {
    if (login_timeout.count() > 0) {
      SQLSetConnectAttr(connection_.get(), SQL_ATTR_LOGIN_TIMEOUT,
                        reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(login_timeout.count())),
                        0);
    }
    // FreeTDS does not always keep its login time-out against a server that
    // takes the connection and then says nothing: the driver call may never
    // return. The login therefore runs on a thread of its own, and the run
    // gives up on it after the time-out and a margin. A login still blocked
    // then keeps its handles until the process ends.
    struct Attempt {
      std::vector<SQLWCHAR> text;
      SQLHDBC connection;
      std::promise<SQLRETURN> result;
    };
    auto attempt = std::make_shared<Attempt>();
    attempt->text = ToWide(connection_string);
    attempt->connection = connection_.get();
    std::future<SQLRETURN> done = attempt->result.get_future();
    std::thread([attempt] {
      attempt->result.set_value(SQLDriverConnectW(attempt->connection, nullptr,
                                                  attempt->text.data(), SQL_NTS, nullptr, 0,
                                                  nullptr, SQL_DRIVER_NOPROMPT));
    }).detach();
    const std::chrono::seconds limit =
        (login_timeout.count() > 0 ? login_timeout : kDefaultLoginTimeout) + kLoginMargin;
    if (done.wait_for(limit) != std::future_status::ready) {
      connection_.Abandon();
      environment_.Abandon();
      throw DatabaseError(
          "The database server took the connection but did not complete the login "
          "within " +
          std::to_string(limit.count()) + " seconds");
    }
    const SQLRETURN rc = done.get();
    if (!SQL_SUCCEEDED(rc)) Fail(connection_, "The ODBC connection cannot be opened");
    connected_ = true;
  }

  RowSet Execute(std::string_view sql) override {
    OdbcHandle statement(SQL_HANDLE_STMT, connection_.get());
    if (!statement) Fail(connection_, "An ODBC statement cannot be created");
    if (timeout_.count() > 0 && timeout_supported_) ApplyTimeout(statement);

    std::string text = translate_top_ ? TranslateTopToLimit(sql) : std::string(sql);
    std::vector<SQLWCHAR> wide = ToWide(text);
    SQLRETURN rc = SQLExecDirectW(statement.get(), wide.data(), SQL_NTS);
    if (rc == SQL_NO_DATA) {  // e.g. an UPDATE that matched no row
      RowSet none;
      none.SetAffectedRows(0);
      return none;
    }
    if (!SQL_SUCCEEDED(rc)) Fail(statement, "The statement failed");

    // Skip the row counts of statements that return no rows; the first one
    // is kept as the affected-row count.
    SQLSMALLINT count = 0;
    long long affected = -1;
    for (;;) {
      if (!SQL_SUCCEEDED(SQLNumResultCols(statement.get(), &count))) {
        Fail(statement, "The result cannot be described");
      }
      if (count > 0) break;
      SQLLEN changed = -1;
      if (affected < 0 && SQL_SUCCEEDED(SQLRowCount(statement.get(), &changed))) affected = changed;
      rc = SQLMoreResults(statement.get());
      if (rc == SQL_NO_DATA) {
        RowSet none;
        none.SetAffectedRows(affected);
        return none;
      }
      if (!SQL_SUCCEEDED(rc)) Fail(statement, "The statement failed");
    }

    std::vector<std::string> columns;
    std::vector<ColumnKind> kinds;
    for (SQLUSMALLINT i = 1; i <= static_cast<SQLUSMALLINT>(count); ++i) {
      SQLWCHAR name[256] = {};
      SQLSMALLINT name_length = 0, type = 0, digits = 0, nullable = 0;
      SQLULEN size = 0;
      // Buffer sizes of the wide functions count characters.
      rc = SQLDescribeColW(statement.get(), i, name, 256, &name_length, &type, &size, &digits,
                           &nullable);
      if (!SQL_SUCCEEDED(rc)) Fail(statement, "A column cannot be described");
      columns.push_back(ToUtf8(name));
      kinds.push_back(KindOf(type));
    }
    RowSet rows(std::move(columns));
    rows.SetColumnKinds(std::move(kinds));
    for (;;) {
      rc = SQLFetch(statement.get());
      if (rc == SQL_NO_DATA) break;
      if (!SQL_SUCCEEDED(rc)) Fail(statement, "A row cannot be fetched");
      for (SQLUSMALLINT i = 1; i <= static_cast<SQLUSMALLINT>(count); ++i) {
        rows.AddValue(ReadField(statement, i));
      }
    }
    return rows;
  }

  void SetCommandTimeout(std::chrono::seconds timeout) override {
    if (timeout.count() < 0) throw DatabaseError("A command time-out cannot be negative");
    // Try the attribute once on a scratch statement, so a driver that
    // cannot time statements out says so here instead of failing every
    // later statement.
    OdbcHandle probe(SQL_HANDLE_STMT, connection_.get());
    if (!probe) Fail(connection_, "An ODBC statement cannot be created");
    timeout_ = timeout;
    timeout_supported_ = true;
    try {
      ApplyTimeout(probe);
    } catch (const DatabaseError&) {
      timeout_supported_ = false;
      throw;
    }
  }

  std::string BackendName() const override { return backend_name_; }

 private:
  void ApplyTimeout(const OdbcHandle& statement) const {
    SQLRETURN rc =
        SQLSetStmtAttr(statement.get(), SQL_ATTR_QUERY_TIMEOUT,
                       reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(timeout_.count())), 0);
    if (!SQL_SUCCEEDED(rc)) Fail(statement, "The command time-out cannot be set");
  }

  OdbcHandle environment_;
  OdbcHandle connection_;
  std::string backend_name_;
  bool translate_top_;
  bool connected_ = false;
  std::chrono::seconds timeout_{0};
  bool timeout_supported_ = true;
};

}  // namespace

std::unique_ptr<Connection> OpenOdbcConnection(const std::string& odbc_connection_string,
                                               std::string backend_name, bool translate_top,
                                               std::chrono::seconds login_timeout) {
  auto connection = std::make_unique<OdbcConnection>(std::move(backend_name), translate_top);
  connection->Connect(odbc_connection_string, login_timeout);
  return connection;
}

std::vector<std::string> InstalledOdbcDrivers() {
  OdbcHandle environment = MakeEnvironment();
  std::vector<std::string> drivers;
  SQLUSMALLINT direction = SQL_FETCH_FIRST;
  for (;;) {
    SQLWCHAR name[512] = {};
    SQLWCHAR attributes[2048] = {};
    SQLSMALLINT name_length = 0, attributes_length = 0;
    SQLRETURN rc = SQLDriversW(environment.get(), direction, name, 512, &name_length, attributes,
                               2048, &attributes_length);
    if (!SQL_SUCCEEDED(rc)) break;
    drivers.push_back(ToUtf8(name));
    direction = SQL_FETCH_NEXT;
  }
  return drivers;
}

}  // namespace quorvex
