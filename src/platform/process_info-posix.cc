#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

#include "platform/process_info.h"

namespace quorvex {

std::string ExecutablePath() {
  std::string path(PATH_MAX, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
  if (n <= 0) {
    throw std::runtime_error(std::string("cannot find the program's own file: ") +
                             std::strerror(errno));
  }
  path.resize(static_cast<std::size_t>(n));
  return path;
}

std::string ExecutableFolder() {
  const std::string path = ExecutablePath();
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string LocalHostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return "localhost";
  return name;
}

}  // namespace quorvex
