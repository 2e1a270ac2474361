#pragma once
// std::filesystem reads a narrow string in the system's code page on Windows, which cannot spell
// every name; our paths are UTF-8 on both systems, so they cross into std::filesystem here.

#include <filesystem>
#include <string>

namespace toval {

inline std::filesystem::path PathOfUtf8(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

inline std::string Utf8OfPath(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// With '/' between the names on both systems (catalogue paths, URLs).
inline std::string GenericUtf8OfPath(const std::filesystem::path& path) {
    const std::u8string text = path.generic_u8string();
    return std::string(text.begin(), text.end());
}

// The directory that holds `path`.
inline std::string ParentDirectory(const std::string& path) {
    return Utf8OfPath(PathOfUtf8(path).parent_path());
}

}  // namespace toval
