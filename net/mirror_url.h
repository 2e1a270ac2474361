#pragma once
// A file's address on a mirror: the same path and query on another server.

#include <optional>
#include <string>

namespace toval {

// `url` with its scheme, host and port taken from `origin` ("http://host[:port]" or
// "https://host[:port]"); nothing when `origin` is anything more or less than such an origin, or
// `url` cannot be read.
std::optional<std::string> UrlOnMirror(const std::string& url, const std::string& origin);

}  // namespace toval
