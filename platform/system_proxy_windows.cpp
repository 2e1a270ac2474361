#include "platform/system_proxy.h"

namespace toval {

std::optional<std::string> SystemProxyFor(const std::string&) { return std::nullopt; }

}  // namespace toval
