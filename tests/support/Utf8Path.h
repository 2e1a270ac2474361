#pragma once
// Paths as the program spells them (UTF-8 in a std::string), on both systems, under the short
// names the tests use.

#include "platform/utf8_path.h"

namespace toval::test {

inline std::string Utf8(const std::filesystem::path& path) { return Utf8OfPath(path); }
inline std::filesystem::path FromUtf8(const std::string& text) { return PathOfUtf8(text); }

}  // namespace toval::test
