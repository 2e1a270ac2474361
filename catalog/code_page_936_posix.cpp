#include <iconv.h>
#include <libxml/encoding.h>

#include <cerrno>
#include <cstdio>

#include "catalog/Cp936Encoder.h"
#include "catalog/code_page_936.h"
#include "platform/text.h"

namespace toval {

namespace {

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

bool HaveCodePage936() {
    iconv_t cd = iconv_open("UTF-8", "CP936");
    if (cd == kNoConverter) return false;
    iconv_close(cd);
    return true;
}

}  // namespace

bool RegisterCodePage936WithXml() {
    // libxml2 hands every name it does not know itself to iconv, which knows code page 936 as
    // CP936, GBK, MS936 and WINDOWS-936; only "GB2312" must be pointed at it, as iconv would
    // take that for strict GB2312.
    return HaveCodePage936() && xmlAddEncodingAlias("CP936", "GB2312") == 0;
}

Cp936Encoder::Cp936Encoder() {
    const iconv_t cd = iconv_open("CP936", "UTF-8");
    Available = cd != kNoConverter;
    if (Available) Converter = cd;
}

Cp936Encoder::~Cp936Encoder() {
    if (Available) iconv_close(static_cast<iconv_t>(Converter));
}

bool Cp936Encoder::Append(std::string_view utf8, std::string& out) {
    if (!Ready()) return false;
    const auto handle = static_cast<iconv_t>(Converter);
    iconv(handle, nullptr, nullptr, nullptr, nullptr);
    char buffer[4096];
    char* in = const_cast<char*>(utf8.data());
    std::size_t inLeft = utf8.size();
    while (inLeft > 0) {
        char* o = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t rc = iconv(handle, &in, &inLeft, &o, &outLeft);
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
