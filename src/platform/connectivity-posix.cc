// The connectivity check of POSIX systems: the URL is read with libcurl's
// URL parser (https is its default scheme, and it knows the default port of
// each scheme it supports), then the host's addresses are tried with
// non-blocking connects, all of them within connect_timeout.
#include <curl/curl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <memory>
#include <string>

#include "platform/connectivity.h"
#include "platform/unique_fd.h"

namespace quorvex {
namespace {

struct UrlDeleter {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct CurlTextDeleter {
  void operator()(char* text) const { curl_free(text); }
};
struct AddressDeleter {
  void operator()(addrinfo* list) const { freeaddrinfo(list); }
};

// The text of one part of a parsed URL, or empty when it has none.
std::string UrlPart(CURLU* url, CURLUPart part, unsigned int flags) {
  char* raw = nullptr;
  if (curl_url_get(url, part, &raw, flags) != CURLUE_OK || raw == nullptr) return {};
  std::unique_ptr<char, CurlTextDeleter> text(raw);
  return std::string(text.get());
}

bool ConnectOne(const addrinfo& address, std::chrono::steady_clock::time_point deadline) {
  UniqueFd socket_fd(
      socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (socket_fd.get() < 0) return false;
  if (connect(socket_fd.get(), address.ai_addr, address.ai_addrlen) == 0) return true;
  if (errno != EINPROGRESS) return false;
  while (true) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd wait{socket_fd.get(), POLLOUT, 0};
    const int ready = poll(&wait, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    int error = 0;
    socklen_t length = sizeof(error);
    if (getsockopt(socket_fd.get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0) return false;
    return error == 0;
  }
}

// True when text opens with a scheme and "://", the form in which WinINet,
// the check on Windows, finds a host: a letter, then letters, digits, "+", "-" or ".".
bool HasScheme(std::string_view text) {
  const std::size_t end = text.find("://");
  if (end == std::string_view::npos || end == 0 ||
      !std::isalpha(static_cast<unsigned char>(text[0]))) {
    return false;
  }
  for (char c : text.substr(0, end)) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.')
      return false;
  }
  return true;
}

}  // namespace

bool CanConnect(std::string_view url_text, std::chrono::milliseconds connect_timeout) {
  if (!HasScheme(url_text)) return false;
  std::unique_ptr<CURLU, UrlDeleter> url(curl_url());
  if (!url) return false;
  const std::string text(url_text);
  if (curl_url_set(url.get(), CURLUPART_URL, text.c_str(),
                   CURLU_NON_SUPPORT_SCHEME | CURLU_ALLOW_SPACE) != CURLUE_OK) {
    return false;
  }
  std::string host = UrlPart(url.get(), CURLUPART_HOST, 0);
  const std::string port = UrlPart(url.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  if (host.empty() || port.empty()) return false;

  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* raw = nullptr;
  if (getaddrinfo(host.c_str(), port.c_str(), &hints, &raw) != 0) return false;
  std::unique_ptr<addrinfo, AddressDeleter> addresses(raw);

  const auto deadline = std::chrono::steady_clock::now() + connect_timeout;
  for (const addrinfo* address = addresses.get(); address != nullptr; address = address->ai_next) {
    if (ConnectOne(*address, deadline)) return true;
  }
  return false;
}

}  // namespace quorvex
