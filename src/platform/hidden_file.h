// Whether the system hides a file from an ordinary listing. The tool
// lookup does not count hidden files, as the system's own file dialogs do
// not show them.
#pragma once

#include <string>

namespace quorvex {

// True when the file at path is hidden on this platform: on Windows a file
// with the hidden or the system attribute, elsewhere a file whose name
// begins with a dot. A path whose attributes cannot be read is not hidden.
bool IsHiddenFile(const std::string& path);

}  // namespace quorvex
