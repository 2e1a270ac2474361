#pragma once
// What the updater reads from a server's answer, one header line at a time, and what it may put
// back into a request of its own.

#include <cstdint>
#include <optional>
#include <string_view>

namespace toval {

// The status code of a status line ("HTTP/1.1 200 OK"); 0 when the line is not one.
long StatusOfLine(std::string_view line);

// The value of header line `line` when it is header `name` (given with its colon), without the
// blanks around it; nothing for another header.
std::optional<std::string_view> HeaderValue(std::string_view line, std::string_view name);

std::optional<uint64_t> ContentLengthOfLine(std::string_view line);

// A validator kept from an earlier answer goes back into a request line of its own; one that
// could end that line early is not sent.
bool FitsInAHeader(std::string_view value);

// "bytes FIRST-LAST/TOTAL" of a Content-Range header; nothing for any other form.
struct ContentRange {
    uint64_t First = 0, Last = 0, Total = 0;
};
std::optional<ContentRange> ContentRangeOfLine(std::string_view line);

}  // namespace toval
