#include "platform/hidden_file.h"

namespace quorvex {

bool IsHiddenFile(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::size_t name = slash == std::string::npos ? 0 : slash + 1;
  return name < path.size() && path[name] == '.';
}

}  // namespace quorvex
