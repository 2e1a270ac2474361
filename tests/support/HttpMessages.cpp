// Reading requests and writing response heads for the test HTTP server, and the generated bodies
// it serves; nothing here knows of sockets.

#include "tests/support/HttpMessages.h"

#include <algorithm>

namespace toval::test {

namespace {

bool SameText(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, [](char x, char y) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

const char* Reason(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 301:
            return "Moved Permanently";
        case 302:
            return "Found";
        case 304:
            return "Not Modified";
        case 400:
            return "Bad Request";
        case 404:
            return "Not Found";
        case 500:
            return "Internal Server Error";
        default:
            return "Status";
    }
}

}  // namespace

Request ParseRequest(std::string_view head) {
    Request r;
    size_t end = head.find('\n');
    std::string_view line = Trim(head.substr(0, end));
    const size_t a = line.find(' ');
    const size_t b = line.rfind(' ');
    if (a != std::string_view::npos && b > a) {
        r.Method = line.substr(0, a);
        r.Target = line.substr(a + 1, b - a - 1);
        r.Version = line.substr(b + 1);
    }
    while (end != std::string_view::npos) {
        head.remove_prefix(end + 1);
        end = head.find('\n');
        line = Trim(head.substr(0, end));
        const size_t colon = line.find(':');
        if (colon != std::string_view::npos)
            r.Headers.emplace_back(line.substr(0, colon), Trim(line.substr(colon + 1)));
    }
    return r;
}

uint64_t BodyLength(const Response& r) {
    return r.GeneratedLength ? r.GeneratedLength : r.Body.size();
}

std::string ResponseHead(const Response& r) {
    std::string head = "HTTP/1.0 " + std::to_string(r.Status) + " " + Reason(r.Status) + "\r\n";
    if (!r.OmitContentLength)
        head +=
            "Content-Length: " + std::to_string(r.ContentLength.value_or(BodyLength(r))) + "\r\n";
    for (const auto& [name, value] : r.Headers) head += name + ": " + value + "\r\n";
    return head + "Connection: close\r\n\r\n";
}

std::string Request::Header(std::string_view name) const {
    for (const auto& [n, v] : Headers)
        if (SameText(n, name)) return v;
    return {};
}

size_t Request::HeaderCount(std::string_view name) const {
    return std::ranges::count_if(Headers, [&](const auto& h) { return SameText(h.first, name); });
}

Response Response::Redirect(std::string location, int status) {
    Response r;
    r.Status = status;
    r.Headers.emplace_back("Location", std::move(location));
    return r;
}

char GeneratedByte(uint64_t i) {
    return static_cast<char>((i * 13 + (i >> 10) * 7 + (i >> 20)) & 0xFF);
}

std::string GeneratedBody(uint64_t length) {
    std::string s(length, '\0');
    for (uint64_t i = 0; i < length; ++i) s[i] = GeneratedByte(i);
    return s;
}

}  // namespace toval::test
