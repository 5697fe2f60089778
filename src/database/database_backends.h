// The pieces behind OpenConnection: the two backends and the pure text
// helpers they share. Kept apart from database.h because only the session
// code and its tests need them.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "database/database.h"

namespace quorvex {

// The SQL Server ODBC drivers we can use, in order of preference: last
// comes the one a stock system offers, Windows' own "SQL Server" there and
// FreeTDS elsewhere.
#ifdef _WIN32
inline constexpr std::string_view kStockSqlServerDriver = "SQL Server";
#else
inline constexpr std::string_view kStockSqlServerDriver = "FreeTDS";
#endif
inline constexpr std::string_view kSqlServerDrivers[] = {
    "ODBC Driver 18 for SQL Server", "ODBC Driver 17 for SQL Server", kStockSqlServerDriver};

// The first of kSqlServerDrivers present in `installed` (names compared
// exactly, as odbcinst.ini spells them), or std::nullopt when none is.
std::optional<std::string> ChooseSqlServerDriver(const std::vector<std::string>& installed);

// What the SQL Server ODBC connection string is made from.
struct SqlServerLogin {
  std::string server;    // "host", "host\instance" or "host,port"
  std::string database;  // may be empty: the login's default database
  std::string user_id;
  std::string password;
  std::string app;  // application name shown by the server
};

// A value as an ODBC connection string may hold it: unchanged when plain,
// otherwise enclosed in braces with every '}' doubled (needed for ';', '{',
// '}' and blanks at either end).
std::string OdbcValue(std::string_view value);

// The DSN-less ODBC connection string for `driver` (one of
// kSqlServerDrivers). The Microsoft drivers (Windows' own included) take
// "host\instance" and "host,port" as SERVER directly; FreeTDS takes an
// instance the same way but wants a port in its own PORT item. Pure: no driver is consulted.
std::string BuildSqlServerOdbcString(std::string_view driver, const SqlServerLogin& login);

// The connection string for an "odbc:<dsn>" data source.
std::string BuildDsnOdbcString(std::string_view dsn, std::string_view user_id,
                               std::string_view password);

// Rewrites "SELECT TOP n <rest>" (any letter case, blanks before SELECT
// allowed) into "SELECT <rest> LIMIT n" for databases that do not know
// TOP. Any other statement, including TOP with PERCENT, WITH TIES or a
// non-literal count, and a statement that already has a LIMIT, is returned
// unchanged.
std::string TranslateTopToLimit(std::string_view sql);

// The error text for a statement stopped by the command time-out.
std::string CommandTimeoutMessage(std::chrono::seconds timeout);

// Opens the SQLite database file at `path` (which must exist; nothing is
// created). Throws DatabaseError when it is missing or is not a database.
std::unique_ptr<Connection> OpenSqliteConnection(const std::string& path, DatabaseAccess access);

// Opens an ODBC session with a complete ODBC connection string.
// `backend_name` is what BackendName() answers ("odbc" or "sqlserver");
// `translate_top` turns TOP into LIMIT for servers that are not SQL Server.
// `login_timeout` of zero leaves the driver's default. Throws DatabaseError
// with the driver's diagnostic records when the connection fails.
std::unique_ptr<Connection> OpenOdbcConnection(const std::string& odbc_connection_string,
                                               std::string backend_name, bool translate_top,
                                               std::chrono::seconds login_timeout);

// The names of the ODBC drivers unixODBC knows (odbcinst.ini). Throws
// DatabaseError when the ODBC environment cannot be created.
std::vector<std::string> InstalledOdbcDrivers();

}  // namespace quorvex
