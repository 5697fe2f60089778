// A synchronous HTTP request: our stand-in for the XMLHTTP request object of
// the SOAP call.
//
// One object is one exchange: Open, SetRequestHeader as often as needed,
// Send, then read the outcome. The exchange always speaks HTTP/1.1, so the
// status line carries the reason phrase that StatusText() gives back. https
// URLs verify the server's certificate and host name against the system's
// trust store.
//
// The HTTP layer's own limits, the one place their values are written (the
// callers set none of their own and refer here):
//   - connecting (name resolution, TCP and TLS handshakes) may take at most
//     kConnectTimeout;
//   - once connected, the exchange is abandoned when no data moves for
//     about kStallTimeout (each backend says how it measures that);
//   - the whole exchange, connecting included, may last at most
//     HttpLimits::deadline, so that a service trickling its answer cannot
//     hold the job forever;
//   - the response body may be at most HttpLimits::max_response_bytes long,
//     so that an endless or oversized answer cannot exhaust memory. A body
//     announced longer than that is refused before it is read.
// Only http:// and https:// addresses are served (a file:// address naming
// a named pipe would block past every limit). Redirects are not followed;
// proxies are the system's usual ones (each backend says where it finds
// them). A body announced in Content-Length is received into one block of
// that size; see platform/response_body.h.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "platform/response_body.h"

namespace quorvex {

// A failure before any response arrived (an address that is not http or
// https, name not resolved, connection
// refused or reset, connect time-out, certificate not trusted, the service
// closed the connection without answering), or an exchange that went past
// one of its HttpLimits whether or not a response had begun. what() is the
// backend's description of the failure, or for a limit a sentence that
// names the limit and its value.
class HttpError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The bounds of one exchange. The defaults are the job's: generous for a
// report answer of a few kilobytes, yet finite.
struct HttpLimits {
  std::chrono::seconds deadline{300};
  std::size_t max_response_bytes = std::size_t{64} << 20;
};

class HttpRequest {
 public:
  static constexpr std::chrono::seconds kConnectTimeout{60};
  static constexpr std::chrono::seconds kStallTimeout{30};

  // Ready states, as the request object reports them.
  static constexpr int kUninitialized = 0;
  static constexpr int kOpened = 1;
  static constexpr int kReceiving = 3;  // a response began but did not complete
  static constexpr int kCompleted = 4;

  // Throws HttpError when the backend cannot set up a request.
  HttpRequest();
  ~HttpRequest();
  HttpRequest(const HttpRequest&) = delete;
  HttpRequest& operator=(const HttpRequest&) = delete;

  // Prepares an exchange with method ("POST", "GET", ...) and an absolute
  // URL. Nothing is sent yet.
  void Open(std::string_view method, std::string_view url);

  // Replaces the default HttpLimits for this request (only a test
  // does, to see the limits act within seconds and kilobytes). REQUIRES:
  // Open was called, Send was not.
  void SetLimits(const HttpLimits& limits);

  // Adds a request header; headers go out in the order they were set,
  // after the ones HTTP itself needs (Host, Content-Length). REQUIRES: Open
  // was called.
  void SetRequestHeader(std::string_view name, std::string_view value);

  // Sends body (bytes as given; not copied, so it must outlive the call;
  // none for GET) and returns when the exchange has ended. Throws HttpError when it ended
  // before any response arrived, or went past its deadline or its size cap
  // at any point. When a response began but did not complete otherwise
  // (connection closed in the middle of the body, stall time-out after the
  // headers) it returns normally with ReadyState() == kReceiving.
  // REQUIRES: Open was called; Send is called at most once.
  void Send(std::string_view body);

  int ReadyState() const { return ready_state_; }
  // After Send (also one that threw): false only when the request surely
  // did not reach the service, because no connection to it was made (the
  // name was not resolved, the connection was refused or timed out, the
  // TLS handshake failed). After any later failure the service may hold the
  // whole request.
  bool RequestMayHaveArrived() const { return request_may_have_arrived_; }
  // Status code and reason phrase of the last status line received (the
  // final one after any interim 1xx answers); 0 and "" before any.
  long Status() const { return status_; }
  const std::string& StatusText() const { return status_text_; }
  // The response body as received, bytes unchanged.
  const std::string& ResponseText() const { return response_text_; }
  // Gives the response body away; ResponseText() is empty afterwards.
  std::string TakeResponseText() { return std::move(response_text_); }

 private:
  // Throws HttpError unless url begins with http:// or https:// (in any
  // letter case). Send calls it before anything else.
  static void RequireHttpScheme(std::string_view url);

  // What the backend keeps for the exchange (-posix.cc, -win32.cc).
  struct Backend;
  std::unique_ptr<Backend> backend_;
  std::string url_;
  int ready_state_ = kUninitialized;
  long status_ = 0;
  std::string status_text_;
  ResponseBody body_;  // while it arrives
  std::string response_text_;
  bool response_started_ = false;
  bool request_may_have_arrived_ = false;
  HttpLimits limits_;
  bool too_large_ = false;
};

}  // namespace quorvex
