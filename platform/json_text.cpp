#include "platform/json_text.h"

#include <cstdio>

#include "platform/text.h"

namespace toval {

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    out.reserve(text.size() + 2);
    while (!text.empty()) {
        const unsigned char c = static_cast<unsigned char>(text.front());
        if (c >= 0x80) {
            char32_t codePoint = 0;
            const std::size_t length = DecodeUtf8(text, codePoint);
            if (length == 0) {
                out += "\xEF\xBF\xBD";
                text.remove_prefix(1);
            } else {
                out += text.substr(0, length);
                text.remove_prefix(length);
            }
            continue;
        }
        text.remove_prefix(1);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    out += escaped;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    out += '"';
    return out;
}

}  // namespace toval
