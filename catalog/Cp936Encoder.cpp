#include "catalog/Cp936Encoder.h"

#include <cerrno>
#include <cstdio>

#include "platform/text.h"

namespace toval {

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
