// The job's large outside libraries, loaded when first used.
//
// libcurl (with its TLS, Kerberos and LDAP dependencies), the ODBC driver
// manager and libsystemd together make up most of a process's start-up
// time and memory, yet a run that has nothing to report never needs curl,
// a run on the embedded database never needs ODBC, and a run that writes its
// entries to a file never needs the journal. The program is therefore not
// linked against them: this file defines the few functions the program
// calls, and each definition loads its library on first use and forwards to
// the real function. Callers include the libraries' own headers and call
// them as usual.
//
// When a library cannot be loaded the forwarding functions fail the way the
// library itself reports failure (a null handle, an error code), so the
// callers' ordinary error handling applies.
#define CURL_DISABLE_TYPECHECK
#include <curl/curl.h>
#include <dlfcn.h>
#include <sql.h>
#include <sqlext.h>
// The program sends no source location with its journal entries.
#define SD_JOURNAL_SUPPRESS_LOCATION
#include <systemd/sd-journal.h>

#include <cerrno>
#include <cstdarg>
#include <mutex>

namespace {

class LazyLibrary {
 public:
  LazyLibrary(const char* primary, const char* alternative)
      : primary_(primary), alternative_(alternative) {}
  LazyLibrary(const LazyLibrary&) = delete;
  LazyLibrary& operator=(const LazyLibrary&) = delete;

  // The named function of the library, or nullptr when the library or the
  // function cannot be found.
  void* Symbol(const char* name) {
    std::call_once(loaded_, [this] {
      handle_ = dlopen(primary_, RTLD_NOW | RTLD_LOCAL);
      if (handle_ == nullptr && alternative_ != nullptr) {
        handle_ = dlopen(alternative_, RTLD_NOW | RTLD_LOCAL);
      }
    });
    return handle_ == nullptr ? nullptr : dlsym(handle_, name);
  }

 private:
  const char* primary_;
  const char* alternative_;
  std::once_flag loaded_;
  void* handle_ = nullptr;  // never closed: the functions stay in use until exit
};

// Each library is loaded at most once per process; the loaded handle is the
// only state and never changes afterwards.
LazyLibrary& Curl() {
  static LazyLibrary library("libcurl.so.4", "libcurl-gnutls.so.4");
  return library;
}
LazyLibrary& Odbc() {
  static LazyLibrary library("libodbc.so.2", "libodbc.so.1");
  return library;
}
LazyLibrary& Systemd() {
  static LazyLibrary library("libsystemd.so.0", nullptr);
  return library;
}

template <typename Function>
Function* Resolve(LazyLibrary& library, const char* name) {
  return reinterpret_cast<Function*>(library.Symbol(name));
}

}  // namespace

// Forwards NAME(PARAMS) to the library, returning FAILURE when it is
// missing.
#define QUORVEX_FORWARD(LIBRARY, RESULT, NAME, FAILURE, PARAMS, ARGS) \
  RESULT NAME PARAMS {                                                \
    static auto* real = Resolve<decltype(NAME)>(LIBRARY(), #NAME);    \
    if (real == nullptr) return FAILURE;                              \
    return real ARGS;                                                 \
  }

extern "C" {

// --- libcurl ---------------------------------------------------------------
QUORVEX_FORWARD(Curl, CURLcode, curl_global_init, CURLE_FAILED_INIT, (long flags), (flags))
void curl_global_cleanup(void) {
  static auto* real = Resolve<decltype(curl_global_cleanup)>(Curl(), "curl_global_cleanup");
  if (real != nullptr) real();
}
QUORVEX_FORWARD(Curl, CURL*, curl_easy_init, nullptr, (void), ())
void curl_easy_cleanup(CURL* handle) {
  static auto* real = Resolve<decltype(curl_easy_cleanup)>(Curl(), "curl_easy_cleanup");
  if (real != nullptr) real(handle);
}
QUORVEX_FORWARD(Curl, CURLcode, curl_easy_perform, CURLE_FAILED_INIT, (CURL * handle), (handle))
const char* curl_easy_strerror(CURLcode code) {
  static auto* real = Resolve<decltype(curl_easy_strerror)>(Curl(), "curl_easy_strerror");
  return real != nullptr ? real(code) : "the HTTP library (libcurl) could not be loaded";
}

// curl_easy_setopt and curl_easy_getinfo take exactly one argument after
// the option: a long, a curl_off_t, a data pointer or a function pointer.
// On the 64-bit Linux ABIs all of them travel in the same general register
// as one 64-bit word, so it is passed on as such.
CURLcode curl_easy_setopt(CURL* handle, CURLoption option, ...) {
  static auto* real =
      reinterpret_cast<CURLcode (*)(CURL*, CURLoption, ...)>(Curl().Symbol("curl_easy_setopt"));
  if (real == nullptr) return CURLE_FAILED_INIT;
  va_list arguments;
  va_start(arguments, option);
  void* value = va_arg(arguments, void*);
  va_end(arguments);
  return real(handle, option, value);
}
CURLcode curl_easy_getinfo(CURL* handle, CURLINFO info, ...) {
  static auto* real =
      reinterpret_cast<CURLcode (*)(CURL*, CURLINFO, ...)>(Curl().Symbol("curl_easy_getinfo"));
  if (real == nullptr) return CURLE_FAILED_INIT;
  va_list arguments;
  va_start(arguments, info);
  void* out = va_arg(arguments, void*);
  va_end(arguments);
  return real(handle, info, out);
}
QUORVEX_FORWARD(Curl, struct curl_slist*, curl_slist_append, nullptr,
                (struct curl_slist * list, const char* text), (list, text))
void curl_slist_free_all(struct curl_slist* list) {
  static auto* real = Resolve<decltype(curl_slist_free_all)>(Curl(), "curl_slist_free_all");
  if (real != nullptr) real(list);
}
void curl_free(void* p) {
  static auto* real = Resolve<decltype(curl_free)>(Curl(), "curl_free");
  if (real != nullptr) real(p);
}
QUORVEX_FORWARD(Curl, CURLU*, curl_url, nullptr, (void), ())
void curl_url_cleanup(CURLU* handle) {
  static auto* real = Resolve<decltype(curl_url_cleanup)>(Curl(), "curl_url_cleanup");
  if (real != nullptr) real(handle);
}
QUORVEX_FORWARD(Curl, CURLUcode, curl_url_get, CURLUE_OUT_OF_MEMORY,
                (CURLU * handle, CURLUPart part, char** out, unsigned int flags),
                (handle, part, out, flags))
QUORVEX_FORWARD(Curl, CURLUcode, curl_url_set, CURLUE_OUT_OF_MEMORY,
                (CURLU * handle, CURLUPart part, const char* text, unsigned int flags),
                (handle, part, text, flags))

// --- ODBC driver manager ---------------------------------------------------
QUORVEX_FORWARD(Odbc, SQLRETURN, SQLAllocHandle, SQL_ERROR,
                (SQLSMALLINT type, SQLHANDLE input, SQLHANDLE* output), (type, input, output))
QUORVEX_FORWARD(Odbc, SQLRETURN, SQLFreeHandle, SQL_ERROR, (SQLSMALLINT type, SQLHANDLE handle),
                (type, handle))
QUORVEX_FORWARD(Odbc, SQLRETURN, SQLSetEnvAttr, SQL_ERROR,
                (SQLHENV env, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER length),
                (env, attribute, value, length))
QUORVEX_FORWARD(Odbc, SQLRETURN, SQLSetConnectAttr, SQL_ERROR,
                (SQLHDBC dbc, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER length),
                (dbc, attribute, value, length))
QUORVEX_FORWARD(Odbc, SQLRETURN, SQLSetStmtAttr, SQL_ERROR,
                (SQLHSTMT stmt, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER length),
                (stmt, attribute, value, length))
QUORVEX_FORWARD(Odbc, SQLRETURN, SQLDriverConnectW, SQL_ERROR,
                (SQLHDBC dbc, SQLHWND window, SQLWCHAR* in, SQLSMALLINT in_length, SQLWCHAR* out,
                 SQLSMALLINT out_size, SQLSMALLINT* out_length, SQLUSMALLINT completion),
                (dbc, window, in, in_length, out, out_size, out_length, completion))
QUORVEX_FORWARD(Odbc, SQLRETURN, SQLDisconnect, SQL_ERROR, (SQLHDBC dbc), (dbc))
QUORVEX_FORWARD(Odbc, SQLRETURN, SQLDriversW, SQL_ERROR,
                (SQLHENV env, SQLUSMALLINT direction, SQLWCHAR* name, SQLSMALLINT name_size,
                 SQLSMALLINT* name_length, SQLWCHAR* attributes, SQLSMALLINT attributes_size,
                 SQLSMALLINT* attributes_length),
                (env, direction, name, name_size, name_length, attributes, attributes_size,
                 attributes_length))
QUORVEX_FORWARD(Odbc, SQLRETURN, SQLExecDirectW, SQL_ERROR,
                (SQLHSTMT stmt, SQLWCHAR* text, SQLINTEGER length), (stmt, text, length))
QUORVEX_FORWARD(Odbc, SQLRETURN, SQLNumResultCols, SQL_ERROR, (SQLHSTMT stmt, SQLSMALLINT* count),
                (stmt, count))
QUORVEX_FORWARD(Odbc, SQLRETURN, SQLDescribeColW, SQL_ERROR,
                (SQLHSTMT stmt, SQLUSMALLINT column, SQLWCHAR* name, SQLSMALLINT name_size,
                 SQLSMALLINT* name_length, SQLSMALLINT* type, SQLULEN* size, SQLSMALLINT* digits,
                 SQLSMALLINT* nullable),
                (stmt, column, name, name_size, name_length, type, size, digits, nullable))
QUORVEX_FORWARD(Odbc, SQLRETURN, SQLFetch, SQL_ERROR, (SQLHSTMT stmt), (stmt))
QUORVEX_FORWARD(Odbc, SQLRETURN, SQLGetData, SQL_ERROR,
                (SQLHSTMT stmt, SQLUSMALLINT column, SQLSMALLINT type, SQLPOINTER value,
                 SQLLEN size, SQLLEN* indicator),
                (stmt, column, type, value, size, indicator))
QUORVEX_FORWARD(Odbc, SQLRETURN, SQLMoreResults, SQL_ERROR, (SQLHSTMT stmt), (stmt))
QUORVEX_FORWARD(Odbc, SQLRETURN, SQLRowCount, SQL_ERROR, (SQLHSTMT stmt, SQLLEN* count),
                (stmt, count))
QUORVEX_FORWARD(Odbc, SQLRETURN, SQLGetDiagRecW, SQL_ERROR,
                (SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record, SQLWCHAR* state,
                 SQLINTEGER* native, SQLWCHAR* text, SQLSMALLINT text_size,
                 SQLSMALLINT* text_length),
                (type, handle, record, state, native, text, text_size, text_length))

// --- systemd journal ---------------------------------------------------------
QUORVEX_FORWARD(Systemd, int, sd_journal_sendv, -ENOSYS, (const struct iovec* fields, int count),
                (fields, count))

}  // extern "C"
