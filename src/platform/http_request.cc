// What both sides of HttpRequest share.
#include "platform/http_request.h"

namespace quorvex {

void HttpRequest::RequireHttpScheme(std::string_view url) {
  const auto begins = [url](std::string_view scheme) {
    if (url.size() < scheme.size()) return false;
    for (std::size_t i = 0; i < scheme.size(); ++i) {
      char c = url[i];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      if (c != scheme[i]) return false;
    }
    return true;
  };
  if (begins("http://") || begins("https://")) return;
  throw HttpError("the address " + std::string(url) +
                  " is neither http:// nor https://; nothing was sent");
}

}  // namespace quorvex
