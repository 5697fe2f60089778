// HTTP exchanges through WinHTTP, synchronous. The connect and stall
// limits become WinHTTP's own time-outs (a stall is a receive or send that
// waits longer than kStallTimeout; neither waits longer than the deadline),
// the deadline is checked between reads of the body, and the size cap
// against the announced length and again while reading. Proxies are the machine's WinHTTP settings,
// certificates come from the system's store.
#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <memory>
#include <string>

#include "platform/http_request.h"
#include "platform/windows_text.h"

namespace quorvex {
namespace {

struct InternetDeleter {
  void operator()(void* handle) const { WinHttpCloseHandle(handle); }
};
using Internet = std::unique_ptr<void, InternetDeleter>;

[[noreturn]] void Fail(const char* step) {
  throw HttpError(std::string(step) + " failed (WinHTTP error " + std::to_string(GetLastError()) +
                  ")");
}

// The parts of a URL that a WinHTTP request is made from.
struct UrlParts {
  std::wstring host;
  std::wstring path;  // with the query
  INTERNET_PORT port = 0;
  bool secure = false;
};

UrlParts CrackUrl(const std::wstring& url) {
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) Fail("reading the URL");
  UrlParts result;
  result.host.assign(parts.lpszHostName, parts.dwHostNameLength);
  result.path.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
  result.path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  if (result.path.empty()) result.path = L"/";
  result.port = parts.nPort;
  result.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  return result;
}

// The handles of one exchange, each opened from the one before it.
struct Exchange {
  Internet session;
  Internet connection;
  Internet request;
};

// Opens a session with the connect and stall time-outs (neither longer
// than the exchange's deadline), connects to the URL's host and opens a
// request that follows no redirects.
Exchange OpenExchange(const UrlParts& url, const std::wstring& method,
                      std::chrono::seconds deadline) {
  Exchange exchange;
  exchange.session.reset(WinHttpOpen(L"Quorvex", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                     WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!exchange.session) Fail("opening a WinHTTP session");
  const auto milliseconds = [&](std::chrono::seconds limit) {
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::min(limit, deadline)).count());
  };
  const int connect_ms = milliseconds(HttpRequest::kConnectTimeout);
  const int stall_ms = milliseconds(HttpRequest::kStallTimeout);
  WinHttpSetTimeouts(exchange.session.get(), connect_ms, connect_ms, stall_ms, stall_ms);
  exchange.connection.reset(WinHttpConnect(exchange.session.get(), url.host.c_str(), url.port, 0));
  if (!exchange.connection) Fail("connecting");
  exchange.request.reset(WinHttpOpenRequest(
      exchange.connection.get(), method.c_str(), url.path.c_str(), nullptr, WINHTTP_NO_REFERER,
      WINHTTP_DEFAULT_ACCEPT_TYPES, url.secure ? WINHTTP_FLAG_SECURE : 0));
  if (!exchange.request) Fail("opening the request");
  // Redirects are not followed, as on Linux.
  DWORD no_redirects = WINHTTP_DISABLE_REDIRECTS;
  WinHttpSetOption(exchange.request.get(), WINHTTP_OPTION_DISABLE_FEATURE, &no_redirects,
                   sizeof no_redirects);
  return exchange;
}

// The status code and reason phrase of the answer's status line.
void ReadStatusLine(HINTERNET request, long& status, std::string& reason) {
  DWORD code = 0;
  DWORD size = sizeof code;
  WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                      WINHTTP_HEADER_NAME_BY_INDEX, &code, &size, WINHTTP_NO_HEADER_INDEX);
  status = static_cast<long>(code);
  wchar_t text[256] = {};
  size = sizeof text - sizeof(wchar_t);
  if (WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_TEXT, WINHTTP_HEADER_NAME_BY_INDEX, text,
                          &size, WINHTTP_NO_HEADER_INDEX)) {
    reason = WideToUtf8(std::wstring(text, size / sizeof(wchar_t)));
  }
}

// The body length the answer announces, or 0 when it announces none.
unsigned long long AnnouncedLength(HINTERNET request) {
  wchar_t text[32] = {};
  DWORD size = sizeof text - sizeof(wchar_t);
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX,
                           text, &size, WINHTTP_NO_HEADER_INDEX)) {
    return 0;
  }
  return std::wcstoull(text, nullptr, 10);
}

}  // namespace

struct HttpRequest::Backend {
  std::wstring method;
  std::wstring url;
  std::wstring headers;
};

HttpRequest::HttpRequest() : backend_(std::make_unique<Backend>()) {}

HttpRequest::~HttpRequest() = default;

void HttpRequest::Open(std::string_view method, std::string_view url) {
  url_ = url;
  backend_->method = Utf8ToWide(method);
  backend_->url = Utf8ToWide(url);
  ready_state_ = kOpened;
}

void HttpRequest::SetLimits(const HttpLimits& limits) { limits_ = limits; }

void HttpRequest::SetRequestHeader(std::string_view name, std::string_view value) {
  backend_->headers += Utf8ToWide(name) + L": " + Utf8ToWide(value) + L"\r\n";
}

void HttpRequest::Send(std::string_view body) {
  RequireHttpScheme(url_);
  const auto start = std::chrono::steady_clock::now();
  const auto past_deadline = [&] {
    return std::chrono::steady_clock::now() - start >= limits_.deadline;
  };
  const auto deadline_error = [&] {
    return HttpError("the exchange exceeded " + std::to_string(limits_.deadline.count()) +
                     " seconds and was abandoned");
  };
  const auto size_error = [&] {
    body_.Clear();
    return HttpError("the answer exceeded " + std::to_string(limits_.max_response_bytes) +
                     " bytes and was abandoned");
  };

  const Exchange exchange =
      OpenExchange(CrackUrl(backend_->url), backend_->method, limits_.deadline);
  HINTERNET request = exchange.request.get();
  // The deadline is checked between the steps of the exchange; so that no
  // single wait inside a step ends past it, each step may wait at most what
  // is left (and a send or a receive no longer than the stall time).
  const auto bound_next_step = [&] {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        limits_.deadline - (std::chrono::steady_clock::now() - start));
    const DWORD whole = static_cast<DWORD>(std::clamp<long long>(left.count(), 1, INT_MAX));
    const DWORD wait = std::min<DWORD>(
        whole, static_cast<DWORD>(
                   std::chrono::duration_cast<std::chrono::milliseconds>(kStallTimeout).count()));
    WinHttpSetOption(request, WINHTTP_OPTION_SEND_TIMEOUT, const_cast<DWORD*>(&wait), sizeof wait);
    WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_TIMEOUT, const_cast<DWORD*>(&wait),
                     sizeof wait);
    WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, const_cast<DWORD*>(&whole),
                     sizeof whole);
  };
  const std::wstring& headers = backend_->headers;
  bound_next_step();
  if (!WinHttpSendRequest(request,
                          headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
                          static_cast<DWORD>(headers.size()), const_cast<char*>(body.data()),
                          static_cast<DWORD>(body.size()), static_cast<DWORD>(body.size()), 0)) {
    const DWORD error = GetLastError();
    request_may_have_arrived_ = error != ERROR_WINHTTP_CANNOT_CONNECT &&
                                error != ERROR_WINHTTP_NAME_NOT_RESOLVED &&
                                error != ERROR_WINHTTP_SECURE_FAILURE;
    if (past_deadline()) throw deadline_error();
    SetLastError(error);
    Fail("sending the request");
  }
  request_may_have_arrived_ = true;
  bound_next_step();
  if (!WinHttpReceiveResponse(request, nullptr)) {
    if (past_deadline()) throw deadline_error();
    Fail("receiving the answer");
  }
  response_started_ = true;
  ReadStatusLine(request, status_, status_text_);
  // An announced length over the cap is refused before the body is read;
  // one within it is received into one block of that size.
  const unsigned long long announced = AnnouncedLength(request);
  if (announced > limits_.max_response_bytes) throw size_error();
  body_.Reserve(static_cast<std::size_t>(announced));

  // Each read asks for what has arrived, never more: a read for more than
  // that may wait to fill its buffer (wine's does), which a service sending
  // a byte now and then would keep from ever ending.
  char buffer[16384];
  while (true) {
    if (past_deadline()) throw deadline_error();
    bound_next_step();
    DWORD available = 0;
    DWORD read = 0;
    if (!WinHttpQueryDataAvailable(request, &available) ||
        (available > 0 &&
         !WinHttpReadData(request, buffer, std::min<DWORD>(available, sizeof buffer), &read))) {
      if (past_deadline()) throw deadline_error();
      response_text_ = body_.Take();
      ready_state_ = kReceiving;  // the answer broke off in the middle
      return;
    }
    if (read == 0) break;
    if (read > limits_.max_response_bytes - body_.size()) throw size_error();
    body_.Append(std::string_view(buffer, read));
  }
  response_text_ = body_.Take();
  ready_state_ = kCompleted;
}

}  // namespace quorvex
