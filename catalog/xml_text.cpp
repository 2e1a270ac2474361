#include "catalog/xml_text.h"

#include "platform/text.h"

namespace toval {

namespace {

bool IsXmlChar(char32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || c >= 0x10000;
}

}  // namespace

bool IsXmlText(std::string_view text) {
    while (!text.empty()) {
        char32_t c = 0;
        const std::size_t size = DecodeUtf8(text, c);
        if (size == 0 || !IsXmlChar(c)) return false;
        text.remove_prefix(size);
    }
    return true;
}

}  // namespace toval
