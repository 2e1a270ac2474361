#include "catalog/mirror_origin.h"

#include <cstdint>
#include <optional>

#include "platform/text.h"

namespace toval {

namespace {

bool IsHostChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.';
}

bool IsAddressChar(char c) {  // inside the brackets of an IPv6 address
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' ||
           c == '.';
}

}  // namespace

bool IsMirrorOrigin(std::string_view text) {
    constexpr size_t kMaxOriginBytes = 300;
    if (text.size() > kMaxOriginBytes) return false;
    if (text.starts_with("http://")) {
        text.remove_prefix(7);
    } else if (text.starts_with("https://")) {
        text.remove_prefix(8);
    } else {
        return false;
    }
    size_t hostEnd = 0;
    if (!text.empty() && text.front() == '[') {
        hostEnd = text.find(']');
        if (hostEnd == std::string_view::npos || hostEnd < 3) return false;
        for (const char c : text.substr(1, hostEnd - 1))
            if (!IsAddressChar(c)) return false;
        ++hostEnd;
    } else {
        while (hostEnd < text.size() && IsHostChar(text[hostEnd])) ++hostEnd;
        if (hostEnd == 0 || text.front() == '.' || text.front() == '-') return false;
    }
    text.remove_prefix(hostEnd);
    if (text.empty()) return true;
    if (text.front() != ':' || text.size() < 2 || text.size() > 6) return false;
    const std::optional<uint64_t> port = ParseUnsignedDecimal(text.substr(1));
    return port && *port >= 1 && *port <= 65535;
}

}  // namespace toval
