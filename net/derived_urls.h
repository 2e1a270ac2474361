#pragma once
// Addresses made from others: a file's on a mirror (the same path and query on another server),
// and a reference resolved against the address of the document that holds it.

#include <optional>
#include <string>

namespace toval {

// `url` with its scheme, host and port taken from `origin` ("http://host[:port]" or
// "https://host[:port]"); nothing when `origin` is anything more or less than such an origin, or
// `url` cannot be read.
std::optional<std::string> UrlOnMirror(const std::string& url, const std::string& origin);

// `reference` ("patches/a.zst", "/x", or a whole http(s) URL) resolved against `base`; nothing
// when the result is not an http or https URL.
std::optional<std::string> ResolveUrl(const std::string& base, const std::string& reference);

}  // namespace toval
