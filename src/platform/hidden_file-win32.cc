// Windows keeps hiding in the file's attributes; a leading dot means
// nothing there.
#include <windows.h>

#include "platform/hidden_file.h"
#include "platform/windows_text.h"

namespace quorvex {

bool IsHiddenFile(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(Utf8ToWide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0;
}

}  // namespace quorvex
