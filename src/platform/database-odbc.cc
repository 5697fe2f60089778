// Sessions through unixODBC: SQL Server (Microsoft's drivers or FreeTDS)
// and any data source named in odbc.ini. Every statement's rows are read
// completely before Execute returns, so the session is free again for the
// next statement (SQL Server without MARS allows one open result).
#include <sql.h>
#include <sqlext.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/database.h"
#include "platform/database_backends.h"

namespace quorvex {
namespace {

constexpr std::chrono::seconds kDefaultLoginTimeout{15};
constexpr std::chrono::seconds kLoginMargin{5};

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
    SQLCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLCHAR message[SQL_MAX_MESSAGE_LENGTH + 1] = {};
    SQLSMALLINT length = 0;
    SQLRETURN rc = SQLGetDiagRec(handle.type(), handle.get(), record, state, &native, message,
                                 sizeof message, &length);
    if (!SQL_SUCCEEDED(rc)) break;
    // FreeTDS reports a refused connection twice in a row; once is enough.
    std::string line(reinterpret_cast<const char*>(message));
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

// The value of column `column` of the current row; long values arrive in
// several pieces.
FieldValue ReadField(const OdbcHandle& statement, SQLUSMALLINT column) {
  std::string value;
  char buffer[4096];
  for (;;) {
    SQLLEN indicator = 0;
    SQLRETURN rc =
        SQLGetData(statement.get(), column, SQL_C_CHAR, buffer, sizeof buffer, &indicator);
    if (rc == SQL_NO_DATA) break;  // every piece has been read
    if (!SQL_SUCCEEDED(rc)) Fail(statement, "A column value cannot be read");
    if (indicator == SQL_NULL_DATA) return std::nullopt;
    // With SQL_SUCCESS_WITH_INFO the buffer is full (less its terminator).
    std::size_t piece = sizeof buffer - 1;
    if (indicator != SQL_NO_TOTAL && static_cast<std::size_t>(indicator) < piece) {
      piece = static_cast<std::size_t>(indicator);
    }
    value.append(buffer, piece);
    if (rc == SQL_SUCCESS) break;
  }
  return value;
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
      std::vector<SQLCHAR> text;
      SQLHDBC connection;
      std::promise<SQLRETURN> result;
    };
    auto attempt = std::make_shared<Attempt>();
    attempt->text.assign(connection_string.begin(), connection_string.end());
    attempt->text.push_back('\0');
    attempt->connection = connection_.get();
    std::future<SQLRETURN> done = attempt->result.get_future();
    std::thread([attempt] {
      attempt->result.set_value(SQLDriverConnect(attempt->connection, nullptr,
                                                 attempt->text.data(), SQL_NTS, nullptr, 0,
                                                 nullptr, SQL_DRIVER_NOPROMPT));
    }).detach();
    const std::chrono::seconds limit =
        (login_timeout.count() > 0 ? login_timeout : kDefaultLoginTimeout) + kLoginMargin;
    if (done.wait_for(limit) != std::future_status::ready) {
      connection_.Abandon();
      environment_.Abandon();
      throw DatabaseError("The database server took the connection but did not complete the login "
                          "within " + std::to_string(limit.count()) + " seconds");
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
    std::vector<SQLCHAR> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    SQLRETURN rc = SQLExecDirect(statement.get(), buffer.data(), SQL_NTS);
    if (rc == SQL_NO_DATA) return RowSet();  // e.g. an UPDATE that matched no row
    if (!SQL_SUCCEEDED(rc)) Fail(statement, "The statement failed");

    // Skip the row counts of statements that return no rows.
    SQLSMALLINT count = 0;
    for (;;) {
      if (!SQL_SUCCEEDED(SQLNumResultCols(statement.get(), &count))) {
        Fail(statement, "The result cannot be described");
      }
      if (count > 0) break;
      rc = SQLMoreResults(statement.get());
      if (rc == SQL_NO_DATA) return RowSet();
      if (!SQL_SUCCEEDED(rc)) Fail(statement, "The statement failed");
    }

    std::vector<std::string> columns;
    for (SQLUSMALLINT i = 1; i <= static_cast<SQLUSMALLINT>(count); ++i) {
      SQLCHAR name[256] = {};
      SQLSMALLINT name_length = 0, type = 0, digits = 0, nullable = 0;
      SQLULEN size = 0;
      rc = SQLDescribeCol(statement.get(), i, name, sizeof name, &name_length, &type, &size,
                          &digits, &nullable);
      if (!SQL_SUCCEEDED(rc)) Fail(statement, "A column cannot be described");
      columns.emplace_back(reinterpret_cast<const char*>(name));
    }
    std::vector<std::vector<FieldValue>> rows;
    for (;;) {
      rc = SQLFetch(statement.get());
      if (rc == SQL_NO_DATA) break;
      if (!SQL_SUCCEEDED(rc)) Fail(statement, "A row cannot be fetched");
      std::vector<FieldValue> row;
      row.reserve(columns.size());
      for (SQLUSMALLINT i = 1; i <= static_cast<SQLUSMALLINT>(count); ++i) {
        row.push_back(ReadField(statement, i));
      }
      rows.push_back(std::move(row));
    }
    return RowSet(std::move(columns), std::move(rows));
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
    SQLCHAR name[512] = {};
    SQLCHAR attributes[2048] = {};
    SQLSMALLINT name_length = 0, attributes_length = 0;
    SQLRETURN rc = SQLDrivers(environment.get(), direction, name, sizeof name, &name_length,
                              attributes, sizeof attributes, &attributes_length);
    if (!SQL_SUCCEEDED(rc)) break;
    drivers.emplace_back(reinterpret_cast<const char*>(name));
    direction = SQL_FETCH_NEXT;
  }
  return drivers;
}

}  // namespace quorvex
