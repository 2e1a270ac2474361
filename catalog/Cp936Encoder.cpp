#include "catalog/Cp936Encoder.h"

#include <cerrno>
#include <cstdio>

namespace toval {

std::size_t DecodeUtf8(std::string_view text, char32_t& codePoint) {
    if (text.empty()) return 0;
    const auto lead = static_cast<unsigned char>(text[0]);
    std::size_t size;
    char32_t value;
    char32_t minimum;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        size = 2, value = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        size = 3, value = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        size = 4, value = lead & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (text.size() < size) return 0;
    for (std::size_t i = 1; i < size; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if ((c & 0xC0) != 0x80) return 0;
        value = (value << 6) | (c & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    codePoint = value;
    return size;
}

Cp936Encoder::Cp936Encoder() : Handle(iconv_open("CP936", "UTF-8")) {}

Cp936Encoder::~Cp936Encoder() {
    if (Ready()) iconv_close(Handle);
}

bool Cp936Encoder::Append(std::string_view utf8, std::string& out) {
    if (!Ready()) return false;
    iconv(Handle, nullptr, nullptr, nullptr, nullptr);
    char buffer[4096];
    char* in = const_cast<char*>(utf8.data());
    std::size_t inLeft = utf8.size();
    while (inLeft > 0) {
        char* o = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t rc = iconv(Handle, &in, &inLeft, &o, &outLeft);
        const int error = errno;
        out.append(buffer, static_cast<std::size_t>(o - buffer));
        if (rc != static_cast<std::size_t>(-1)) continue;
        if (error == E2BIG) continue;
        // Malformed input and characters the code page lacks both stop iconv; tell them apart.
        char32_t codePoint = 0;
        const std::size_t size = DecodeUtf8(std::string_view(in, inLeft), codePoint);
        if (size == 0) return false;
        char reference[16];
        std::snprintf(reference, sizeof reference, "&#x%X;", static_cast<unsigned>(codePoint));
        out += reference;
        in += size;
        inLeft -= size;
    }
    return true;
}

}  // namespace toval
