#include "platform/system_proxy.h"

namespace toval {

// Here the environment is the system's setting, and libcurl reads it itself.
std::optional<std::string> SystemProxyFor(const std::string&) { return std::nullopt; }

}  // namespace toval
