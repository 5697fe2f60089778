// ServerNameProvider: the default database server name, used when the
// settings file names none. On this platform it is the local host name:
// an installation's database usually runs on the same machine.
#pragma once

#include <string>

namespace quorvex {

class ServerNameProvider {
 public:
  ServerNameProvider() = default;
  ServerNameProvider(const ServerNameProvider&) = delete;
  ServerNameProvider& operator=(const ServerNameProvider&) = delete;

  std::string GetServerName() const;
};

}  // namespace quorvex
