// HTTP exchanges through libcurl. The stall limit is libcurl's low-speed
// limit of one byte per second over kStallTimeout; libcurl averages the
// speed over the last few seconds, so after a burst of data the abort comes
// up to about five seconds later than that. Proxies come from the usual
// environment variables (http_proxy, https_proxy, no_proxy), certificates
// from the system's trust store.
#include <curl/curl.h>

#include <chrono>
#include <string>

#include "platform/http_request.h"

namespace quorvex {

namespace {

// libcurl wants its global state set up once per process before the first
// handle; the function-local static makes that happen exactly once, also
// when requests are made from several threads (as the tests do).
void EnsureCurlGlobalInit() {
  struct Init {
    Init() { curl_global_init(CURL_GLOBAL_DEFAULT); }
    ~Init() { curl_global_cleanup(); }
  };
  static const Init init;
}

struct EasyDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

}  // namespace

struct HttpRequest::Backend {
  std::unique_ptr<CURL, EasyDeleter> easy;
  std::unique_ptr<curl_slist, ListDeleter> headers;
  char error[CURL_ERROR_SIZE] = {};
  bool sends_body = true;  // false for GET, which carries none

  // libcurl's callbacks for each header line and each piece of the body;
  // self is the HttpRequest.
  static size_t OnHeader(char* data, size_t size, size_t count, void* self);
  static size_t OnBody(char* data, size_t size, size_t count, void* self);
};

HttpRequest::HttpRequest() : backend_(std::make_unique<Backend>()) {
  EnsureCurlGlobalInit();
  backend_->easy.reset(curl_easy_init());
  if (!backend_->easy) throw HttpError("libcurl could not create a request handle");
}

HttpRequest::~HttpRequest() = default;

void HttpRequest::Open(std::string_view method, std::string_view url) {
  CURL* h = backend_->easy.get();
  url_ = url;
  curl_easy_setopt(h, CURLOPT_URL, url_.c_str());
  // libcurl's own refusal of other schemes, behind the check in Send.
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  backend_->sends_body = method != "GET";
  if (method == "POST") {
    curl_easy_setopt(h, CURLOPT_POST, 1L);
  } else if (method != "GET") {
    curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, std::string(method).c_str());
  }
  curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, static_cast<long>(kConnectTimeout.count()));
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, static_cast<long>(kStallTimeout.count()));
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, backend_->error);
  curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &Backend::OnHeader);
  curl_easy_setopt(h, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &Backend::OnBody);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, this);
  // No "Expect: 100-continue" round trip for large bodies: the request goes
  // out in one piece, as its two headers promise.
  backend_->headers.reset(curl_slist_append(nullptr, "Expect:"));
  ready_state_ = kOpened;
}

void HttpRequest::SetLimits(const HttpLimits& limits) { limits_ = limits; }

void HttpRequest::SetRequestHeader(std::string_view name, std::string_view value) {
  std::string line(name);
  line += ": ";
  line += value;
  curl_slist* list = curl_slist_append(backend_->headers.get(), line.c_str());
  if (list == nullptr) throw HttpError("out of memory while adding a request header");
  backend_->headers.release();
  backend_->headers.reset(list);
}

void HttpRequest::Send(std::string_view body) {
  RequireHttpScheme(url_);
  CURL* h = backend_->easy.get();
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, backend_->headers.get());
  // A body given to libcurl turns any request into a POST.
  if (backend_->sends_body) {
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  }
  curl_easy_setopt(h, CURLOPT_TIMEOUT, static_cast<long>(limits_.deadline.count()));
  // An announced length over the cap is refused before the body is read; a
  // body without one is cut off by OnBody when it reaches the cap.
  curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE,
                   static_cast<curl_off_t>(limits_.max_response_bytes));
  backend_->error[0] = '\0';
  const auto start = std::chrono::steady_clock::now();
  CURLcode code = curl_easy_perform(h);
  // The transfer phase begins once the connection (and its TLS handshake)
  // is made: from then on the request may be with the service.
  curl_off_t pretransfer = 0;
  request_may_have_arrived_ =
      code == CURLE_OK || response_started_ ||
      (curl_easy_getinfo(h, CURLINFO_PRETRANSFER_TIME_T, &pretransfer) == CURLE_OK &&
       pretransfer > 0);
  if (too_large_ || code == CURLE_FILESIZE_EXCEEDED) {
    body_.Clear();
    throw HttpError("the answer exceeded " + std::to_string(limits_.max_response_bytes) +
                    " bytes and was abandoned");
  }
  // libcurl reports the deadline and the stall limit with the same code;
  // only the clock tells them apart.
  if (code == CURLE_OPERATION_TIMEDOUT &&
      std::chrono::steady_clock::now() - start >= limits_.deadline) {
    throw HttpError("the exchange exceeded " + std::to_string(limits_.deadline.count()) +
                    " seconds and was abandoned");
  }
  response_text_ = body_.Take();
  if (code == CURLE_OK) {
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status_);
    ready_state_ = kCompleted;
    return;
  }
  if (response_started_) {
    ready_state_ = kReceiving;
    return;
  }
  std::string description = curl_easy_strerror(code);
  if (backend_->error[0] != '\0') {
    description += " (";
    description += backend_->error;
    description += ")";
  }
  throw HttpError(description);
}

size_t HttpRequest::Backend::OnHeader(char* data, size_t size, size_t count, void* self) {
  auto* request = static_cast<HttpRequest*>(self);
  std::string_view line(data, size * count);
  if (line.starts_with("HTTP/")) {
    // "HTTP/1.1 404 Not Found\r\n": the reason phrase is what follows the
    // second blank, up to the line break. A later status line (after a 1xx
    // interim answer) replaces an earlier one.
    request->response_started_ = true;
    request->status_text_.clear();
    request->status_ = 0;
    std::size_t first = line.find(' ');
    if (first != std::string_view::npos) {
      std::size_t second = line.find(' ', first + 1);
      std::string_view code =
          line.substr(first + 1, second == std::string_view::npos ? std::string_view::npos
                                                                  : second - first - 1);
      long value = 0;
      for (char c : code) {
        if (c < '0' || c > '9') break;
        value = value * 10 + (c - '0');
      }
      request->status_ = value;
      if (second != std::string_view::npos) {
        std::string_view reason = line.substr(second + 1);
        while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r')) {
          reason.remove_suffix(1);
        }
        request->status_text_ = reason;
      }
    }
  }
  return size * count;
}

size_t HttpRequest::Backend::OnBody(char* data, size_t size, size_t count, void* self) {
  auto* request = static_cast<HttpRequest*>(self);
  request->response_started_ = true;
  const size_t length = size * count;
  const std::size_t cap = request->limits_.max_response_bytes;
  if (request->body_.size() == 0) {
    // The headers are in: an announced length within the cap is received
    // into one block of that size.
    curl_off_t announced = -1;
    if (curl_easy_getinfo(request->backend_->easy.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T,
                          &announced) == CURLE_OK &&
        announced > 0 && static_cast<std::size_t>(announced) <= cap) {
      request->body_.Reserve(static_cast<std::size_t>(announced));
    }
  }
  if (length > cap - request->body_.size()) {
    // A short count makes libcurl end the transfer with a write error.
    request->too_large_ = true;
    return 0;
  }
  request->body_.Append(std::string_view(data, length));
  return length;
}

}  // namespace quorvex
