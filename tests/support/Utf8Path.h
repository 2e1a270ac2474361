#pragma once
// Paths as the program spells them (UTF-8 in a std::string), on both systems: header-only, so
// the tests that run under Wine use it without the rest of the support library.

#include <filesystem>
#include <string>

namespace toval::test {

inline std::string Utf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

inline std::filesystem::path FromUtf8(const std::string& text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

}  // namespace toval::test
