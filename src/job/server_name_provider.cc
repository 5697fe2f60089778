#include "job/server_name_provider.h"

#include "platform/process_info.h"

namespace quorvex {

std::string ServerNameProvider::GetServerName() const { return LocalHostName(); }

}  // namespace quorvex
