// HTTP exchanges through WinHTTP, synchronous. The connect and stall
// limits become WinHTTP's own time-outs (a stall is a receive or send that
// waits longer than kStallTimeout), the deadline is checked between reads
// of the body, and the size cap against the announced length and again
// while reading. Proxies are the machine's WinHTTP settings, certificates
// come from the system's store.
#include <windows.h>
#include <winhttp.h>

#include <chrono>
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

}  // namespace

struct HttpRequest::Backend {
  std::wstring method;
  std::wstring url;
  std::wstring headers;
};

HttpRequest::HttpRequest() : backend_(std::make_unique<Backend>()) {}

HttpRequest::~HttpRequest() = default;

void HttpRequest::Open(std::string_view method, std::string_view url) {
  backend_->method = Utf8ToWide(method);
  backend_->url = Utf8ToWide(url);
  ready_state_ = kOpened;
}

void HttpRequest::SetLimits(const HttpLimits& limits) { limits_ = limits; }

void HttpRequest::SetRequestHeader(std::string_view name, std::string_view value) {
  backend_->headers += Utf8ToWide(name) + L": " + Utf8ToWide(value) + L"\r\n";
}

void HttpRequest::Send(std::string_view body) {
  const auto start = std::chrono::steady_clock::now();
  const auto past_deadline = [&] {
    return std::chrono::steady_clock::now() - start >= limits_.deadline;
  };
  const auto deadline_error = [&] {
    return HttpError("the exchange exceeded " + std::to_string(limits_.deadline.count()) +
                     " seconds and was abandoned");
  };
  const auto size_error = [&] {
    response_text_.clear();
    response_text_.shrink_to_fit();
    return HttpError("the answer exceeded " + std::to_string(limits_.max_response_bytes) +
                     " bytes and was abandoned");
  };

  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!WinHttpCrackUrl(backend_->url.c_str(), 0, 0, &parts)) Fail("reading the URL");
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
  path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  if (path.empty()) path = L"/";

  Internet session(WinHttpOpen(L"Quorvex", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                               WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) Fail("opening a WinHTTP session");
  const int connect_ms = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(kConnectTimeout).count());
  const int stall_ms = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(kStallTimeout).count());
  WinHttpSetTimeouts(session.get(), connect_ms, connect_ms, stall_ms, stall_ms);
  Internet connection(WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0));
  if (!connection) Fail("connecting");
  const DWORD flags = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
  Internet request(WinHttpOpenRequest(connection.get(), backend_->method.c_str(), path.c_str(),
                                      nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                      flags));
  if (!request) Fail("opening the request");
  // Redirects are not followed, as on Linux.
  DWORD no_redirects = WINHTTP_DISABLE_REDIRECTS;
  WinHttpSetOption(request.get(), WINHTTP_OPTION_DISABLE_FEATURE, &no_redirects,
                   sizeof no_redirects);
  if (!WinHttpSendRequest(
          request.get(),
          backend_->headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : backend_->headers.c_str(),
          static_cast<DWORD>(backend_->headers.size()), const_cast<char*>(body.data()),
          static_cast<DWORD>(body.size()), static_cast<DWORD>(body.size()), 0)) {
    if (past_deadline()) throw deadline_error();
    Fail("sending the request");
  }
  if (!WinHttpReceiveResponse(request.get(), nullptr)) {
    if (past_deadline()) throw deadline_error();
    Fail("receiving the answer");
  }
  response_started_ = true;

  DWORD status = 0;
  DWORD size = sizeof status;
  WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                      WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
  status_ = static_cast<long>(status);
  wchar_t reason[256] = {};
  size = sizeof reason - sizeof(wchar_t);
  if (WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_TEXT, WINHTTP_HEADER_NAME_BY_INDEX,
                          reason, &size, WINHTTP_NO_HEADER_INDEX)) {
    status_text_ = WideToUtf8(std::wstring(reason, size / sizeof(wchar_t)));
  }
  // An announced length over the cap is refused before the body is read.
  wchar_t length_text[32] = {};
  size = sizeof length_text - sizeof(wchar_t);
  if (WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX,
                          length_text, &size, WINHTTP_NO_HEADER_INDEX) &&
      std::wcstoull(length_text, nullptr, 10) > limits_.max_response_bytes) {
    throw size_error();
  }

  char buffer[16384];
  while (true) {
    if (past_deadline()) throw deadline_error();
    DWORD read = 0;
    if (!WinHttpReadData(request.get(), buffer, sizeof buffer, &read)) {
      if (past_deadline()) throw deadline_error();
      ready_state_ = kReceiving;  // the answer broke off in the middle
      return;
    }
    if (read == 0) break;
    if (read > limits_.max_response_bytes - response_text_.size()) throw size_error();
    response_text_.append(buffer, read);
  }
  ready_state_ = kCompleted;
}

}  // namespace quorvex
