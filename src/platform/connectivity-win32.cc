// The connectivity check of Windows: WinINet's InternetCheckConnectionA,
// which forces a connection attempt to the URL's host. The URL goes to it
// as it is, in the ANSI code page; WinINet reads it with its own URL
// parser, which wants a scheme. WinINet applies its own connect time-out,
// so connect_timeout is not used here.
#include <windows.h>
#include <wininet.h>

#include <string>

#include "platform/connectivity.h"
#include "platform/windows_text.h"

namespace quorvex {

bool CanConnect(std::string_view url, std::chrono::milliseconds) {
  const std::string text = Utf8ToAnsiCodePage(url);
  return InternetCheckConnectionA(text.c_str(), FLAG_ICC_FORCE_CONNECTION, 0) != FALSE;
}

}  // namespace quorvex
