// Text files as the system's own editor saves them, turned into UTF-8.
//
// On Windows, Notepad saves "ANSI" (the system's code page), "Unicode"
// (UTF-16 little endian with a byte-order mark), "Unicode big endian" and
// UTF-8, and the system's own profile functions read them all; so does the
// job. Elsewhere editors write UTF-8, and bytes are taken as they are.
#pragma once

#include <string>

namespace quorvex {

// text in UTF-8. On Windows: UTF-16 text with its byte-order mark is
// converted (the mark dropped; an odd last byte is dropped too), text that
// is valid UTF-8 (with or without its mark) is returned as it is, and any
// other text is read in the ANSI code page. Elsewhere: text unchanged.
std::string EditorTextToUtf8(std::string text);

}  // namespace quorvex
