#pragma once
// The proxy the system is set to use for a URL, for a network library that does not ask the
// system by itself. The proxy variables of the environment (http_proxy, https_proxy, all_proxy,
// no_proxy) win wherever they are set: the network library reads those on its own.

#include <optional>
#include <string>

namespace toval {

// What to hand the network library as the proxy of `url`: nothing when the system has no say
// (no setting, or an environment variable decides), an empty text to go direct, or a proxy
// ("http://host:port"). On Windows: the player's WinHTTP/Internet Options settings, automatic
// configuration included; elsewhere always nothing.
std::optional<std::string> SystemProxyFor(const std::string& url);

}  // namespace toval
