// Text conversions at the Windows API boundary. The program's own texts are
// UTF-8; the narrow ("A") calls take the ANSI code page, whose default
// character stands in for what it cannot hold, and the wide ("W") calls
// take UTF-16. Used by the -win32 files only.
#pragma once

#include <string>
#include <string_view>

namespace quorvex {

std::wstring Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::wstring_view wide);
std::string Utf8ToAnsiCodePage(std::string_view utf8);
std::string AnsiCodePageToUtf8(std::string_view ansi);

// utf8 in the ANSI code page, into ansi. False when some character has no
// exact counterpart there: no default character and no look-alike ("best
// fit") stands in for it, since a path must not turn into another path.
bool Utf8ToAnsiCodePageExactly(std::string_view utf8, std::string& ansi);

}  // namespace quorvex
