#include <iconv.h>
#include <libxml/encoding.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

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

// In code page 936 a byte from 0x81 to 0xFE leads a two-byte character; every other byte is a
// character of its own.
int CharLength(unsigned char lead) { return lead >= 0x81 && lead <= 0xFE ? 2 : 1; }

// The decoding converter of this thread: libxml2's callback has no context of its own.
iconv_t ThreadDecoder() {
    struct Holder {
        iconv_t Converter = iconv_open("UTF-8", "CP936");
        ~Holder() {
            if (Converter != kNoConverter) iconv_close(Converter);
        }
    };
    thread_local Holder holder;
    return holder.Converter;
}

// libxml2's input callback: code page 936 in, UTF-8 out. A catalogue is nearly all ASCII, which
// the code page shares byte for byte, so runs of it are copied and only the runs of two-byte
// characters go through iconv: the same text as iconv gives for the whole, at a fraction of the
// cost. A run is cut only between characters, as the scan follows lead bytes from the start of
// `in`, where libxml2 always resumes (a trail byte may look like ASCII). Only whole characters
// are taken: a lead byte at the end of `in` is left for the next call. Returns the bytes
// written, -2 at a byte sequence that is no character of the code page (`inlen` then stops in
// front of it), as libxml2 expects.
int DecodeCodePage936(unsigned char* out, int* outlen, const unsigned char* in, int* inlen) {
    const iconv_t converter = ThreadDecoder();
    const int inSize = *inlen;
    const int room = *outlen;
    int read = 0;
    int written = 0;
    int status = 0;
    while (read < inSize && written < room && status == 0) {
        if (in[read] < 0x80) {
            const int most = std::min(inSize - read, room - written);
            int run = 1;
            while (run < most && in[read + run] < 0x80) ++run;
            std::memcpy(out + written, in + read, static_cast<std::size_t>(run));
            read += run;
            written += run;
            continue;
        }
        int end = read;
        while (end < inSize && in[end] >= 0x80 && end + CharLength(in[end]) <= inSize)
            end += CharLength(in[end]);
        if (end == read) break;  // a lead byte whose trail has not arrived
        if (converter == kNoConverter) {
            status = -2;
            break;
        }
        char* from = reinterpret_cast<char*>(const_cast<unsigned char*>(in + read));
        char* to = reinterpret_cast<char*>(out + written);
        std::size_t fromLeft = static_cast<std::size_t>(end - read);
        std::size_t toLeft = static_cast<std::size_t>(room - written);
        const std::size_t rc = iconv(converter, &from, &fromLeft, &to, &toLeft);
        const int error = errno;
        read = end - static_cast<int>(fromLeft);
        written = room - static_cast<int>(toLeft);
        if (rc != static_cast<std::size_t>(-1)) continue;
        // E2BIG: the output is full (perhaps too full for even one character) and the rest
        // waits for the next call.
        if (error == E2BIG) break;
        status = -2;
    }
    *inlen = read;
    *outlen = written;
    return status < 0 ? status : written;
}

}  // namespace

bool RegisterCodePage936WithXml() {
    // "GB2312" is decoded here, as code page 936 (iconv would take the name for strict GB2312);
    // every other name libxml2 does not know itself goes to iconv, which knows code page 936 as
    // CP936, GBK, MS936 and WINDOWS-936. Nothing writes GB2312 through libxml2.
    return HaveCodePage936() &&
           xmlNewCharEncodingHandler("GB2312", DecodeCodePage936, nullptr) != nullptr;
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
