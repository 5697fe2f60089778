// The connectivity check of Windows: WinINet's InternetCheckConnectionA,
// which forces a connection attempt to the URL's host. WinINet applies its
// own connect time-out, so connect_timeout is not used here.
#include <windows.h>
#include <wininet.h>

#include <string>

#include "platform/connectivity.h"

namespace quorvex {

bool CanConnect(std::string_view url, std::chrono::milliseconds) {
  // URLs are ASCII (a host name in its punycode form), the same bytes in
  // UTF-8 and in any ANSI code page.
  std::string text(url);
  // WinINet wants a scheme; without one the URL is read as https, as on
  // Linux.
  if (text.find("://") == std::string::npos) text.insert(0, "https://");
  return InternetCheckConnectionA(text.c_str(), FLAG_ICC_FORCE_CONNECTION, 0) != FALSE;
}

}  // namespace quorvex
