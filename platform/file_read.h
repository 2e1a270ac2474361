#pragma once
// Reading a whole file of bounded size into memory.

#include <cstdint>
#include <optional>
#include <string>

namespace toval {

// The bytes of the regular file at `path`; nothing when it cannot be read or holds more than
// `maxBytes`.
std::optional<std::string> ReadSmallFile(const std::string& path, uint64_t maxBytes);

}  // namespace toval
