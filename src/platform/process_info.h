// Facts about the running process that the job takes from the platform.
#pragma once

#include <string>

namespace quorvex {

// Full path of the running executable. Throws std::runtime_error when the
// platform cannot tell.
std::string ExecutablePath();

// Folder that holds the running executable, without a trailing separator
// (except for the root folder itself).
std::string ExecutableFolder();

// The local host name.
std::string LocalHostName();

}  // namespace quorvex
