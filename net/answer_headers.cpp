#include "net/answer_headers.h"

#include "platform/text.h"

namespace toval {

long StatusOfLine(std::string_view line) {
    if (!line.starts_with("HTTP/")) return 0;
    const size_t space = line.find(' ');
    if (space == std::string_view::npos || line.size() < space + 4) return 0;
    long code = 0;
    for (size_t i = space + 1; i < space + 4; ++i) {
        if (line[i] < '0' || line[i] > '9') return 0;
        code = code * 10 + (line[i] - '0');
    }
    return code;
}

std::optional<std::string_view> HeaderValue(std::string_view line, std::string_view name) {
    if (!StartsWithIgnoringAsciiCase(line, name)) return std::nullopt;
    line.remove_prefix(name.size());
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' ' ||
                             line.back() == '\t'))
        line.remove_suffix(1);
    return line;
}

std::optional<uint64_t> ContentLengthOfLine(std::string_view line) {
    const std::optional<std::string_view> text = HeaderValue(line, "content-length:");
    if (!text) return std::nullopt;
    return ParseUnsignedDecimal(*text);
}

bool FitsInAHeader(std::string_view value) {
    for (char c : value)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
    return !value.empty();
}

std::optional<ContentRange> ContentRangeOfLine(std::string_view line) {
    std::optional<std::string_view> text = HeaderValue(line, "content-range:");
    if (!text || !StartsWithIgnoringAsciiCase(*text, "bytes ")) return std::nullopt;
    std::string_view rest = text->substr(6);
    ContentRange range;
    const auto number = [&rest](uint64_t& value, char end) {
        const std::optional<uint64_t> taken = TakeUnsignedDecimal(rest);
        if (!taken) return false;
        value = *taken;
        if (end == 0) return rest.empty();
        if (rest.empty() || rest.front() != end) return false;
        rest.remove_prefix(1);
        return true;
    };
    if (!number(range.First, '-') || !number(range.Last, '/') || !number(range.Total, 0))
        return std::nullopt;
    return range;
}

}  // namespace toval
