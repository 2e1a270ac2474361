#include <libxml/encoding.h>
#include <windows.h>

#include <cstdio>
#include <string_view>

#include "catalog/Cp936Encoder.h"
#include "catalog/code_page_936.h"
#include "platform/text.h"

namespace toval {

namespace {

constexpr UINT kCodePage = 936;
// Characters converted by one call of the system; bounds the stack buffer of UTF-16 units.
constexpr int kPiece = 4096;

// In code page 936 a byte from 0x81 to 0xFE leads a two-byte character; every other byte is a
// character of its own.
int CharLength(unsigned char lead) { return lead >= 0x81 && lead <= 0xFE ? 2 : 1; }

// UTF-8 of UTF-16 units (a lone surrogate, which the code page never yields, as U+FFFD).
// Returns the bytes written, 0 when they do not fit in `room`.
int PutUtf8(const wchar_t* units, int count, unsigned char* out, int room) {
    int written = 0;
    for (int i = 0; i < count; ++i) {
        char32_t c = static_cast<char16_t>(units[i]);
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < count &&
            static_cast<char16_t>(units[i + 1]) >= 0xDC00 &&
            static_cast<char16_t>(units[i + 1]) <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char16_t>(units[++i]) - 0xDC00);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        unsigned char bytes[4];
        int n = 0;
        if (c < 0x80) {
            bytes[n++] = static_cast<unsigned char>(c);
        } else if (c < 0x800) {
            bytes[n++] = static_cast<unsigned char>(0xC0 | (c >> 6));
            bytes[n++] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            bytes[n++] = static_cast<unsigned char>(0xE0 | (c >> 12));
            bytes[n++] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
            bytes[n++] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        } else {
            bytes[n++] = static_cast<unsigned char>(0xF0 | (c >> 18));
            bytes[n++] = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
            bytes[n++] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
            bytes[n++] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        }
        if (written + n > room) return 0;
        for (int k = 0; k < n; ++k) out[written++] = bytes[k];
    }
    return written;
}

// libxml2's input callback: code page 936 in, UTF-8 out. Only whole characters are taken: a lead
// byte at the end of `in` is left for the next call, which libxml2 makes with it at the front
// once more bytes have arrived. Returns the bytes written, -2 at a byte sequence that is no
// character of the code page (`inlen` then stops in front of it), as libxml2 expects.
int DecodeCodePage936(unsigned char* out, int* outlen, const unsigned char* in, int* inlen) {
    const int inSize = *inlen;
    const int room = *outlen;
    int read = 0;
    int written = 0;
    int status = 0;
    // Up to here the characters are converted one at a time, after a piece that did not convert
    // as one unit per character.
    int singlyUntil = 0;
    wchar_t wide[kPiece];
    while (read < inSize && status == 0) {
        int end = read;
        int chars = 0;
        const int most = read < singlyUntil ? 1 : kPiece;
        while (chars < most && end < inSize && end + CharLength(in[end]) <= inSize) {
            end += CharLength(in[end]);
            ++chars;
        }
        if (chars == 0) break;
        const int units =
            ::MultiByteToWideChar(kCodePage, MB_ERR_INVALID_CHARS,
                                  reinterpret_cast<LPCCH>(in + read), end - read, wide, kPiece);
        if (chars == 1) {
            // One character, however many units it made; none: it is not one of the code page.
            if (units <= 0) {
                status = -2;
                break;
            }
            const int n = PutUtf8(wide, units, out + written, room - written);
            if (n == 0) break;
            written += n;
            read = end;
            continue;
        }
        if (units != chars) {
            singlyUntil = end;
            continue;
        }
        // One unit per character: the units map back onto the bytes they came from.
        for (int i = 0; i < units; ++i) {
            const int n = PutUtf8(wide + i, 1, out + written, room - written);
            if (n == 0) {
                status = 1;  // full
                break;
            }
            written += n;
            read += CharLength(in[read]);
        }
    }
    *inlen = read;
    *outlen = written;
    return status < 0 ? status : written;
}

// Code page 936 bytes of one character into `bytes`: their count, 0 when the code page has no
// such character. Without best fit: a character is never written as a look-alike.
int EncodeChar(char32_t c, char (&bytes)[2]) {
    if (c < 0x80) {
        bytes[0] = static_cast<char>(c);
        return 1;
    }
    // Code page 936 holds nothing beyond the basic plane.
    if (c > 0xFFFF) return 0;
    const wchar_t unit = static_cast<wchar_t>(c);
    BOOL usedDefault = FALSE;
    const int n = ::WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, &unit, 1, bytes,
                                        sizeof bytes, nullptr, &usedDefault);
    return n > 0 && !usedDefault ? n : 0;
}

// libxml2's output callback: UTF-8 in, code page 936 out. A character the code page lacks ends
// the call with -2 and `inlen` in front of it (libxml2 then writes a character reference); a
// full output buffer with -1; a character cut off at the end of `in` waits for the next call.
int EncodeCodePage936(unsigned char* out, int* outlen, const unsigned char* in, int* inlen) {
    if (!in) {
        *outlen = 0;
        *inlen = 0;
        return 0;
    }
    const std::string_view text(reinterpret_cast<const char*>(in), static_cast<size_t>(*inlen));
    const int room = *outlen;
    size_t read = 0;
    int written = 0;
    int status = 0;
    while (read < text.size()) {
        char32_t c = 0;
        const size_t size = DecodeUtf8(text.substr(read), c);
        if (size == 0) {
            // A sequence cut off by the end of the input is not yet a fault.
            const auto lead = static_cast<unsigned char>(text[read]);
            const size_t want = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
            if (text.size() - read < want && lead >= 0xC2 && lead <= 0xF4) break;
            status = -2;
            break;
        }
        char bytes[2];
        const int n = EncodeChar(c, bytes);
        if (n == 0) {
            status = -2;
            break;
        }
        if (written + n > room) {
            status = -1;
            break;
        }
        for (int k = 0; k < n; ++k) out[written++] = static_cast<unsigned char>(bytes[k]);
        read += size;
    }
    *inlen = static_cast<int>(read);
    *outlen = written;
    return status < 0 ? status : written;
}

bool HaveCodePage936() { return ::IsValidCodePage(kCodePage) != 0; }

}  // namespace

bool RegisterCodePage936WithXml() {
    // libxml2 is built without iconv here: the code page becomes a handler of its own, under
    // every name by which iconv knows it on Linux, and "GB2312", which means it in practice.
    if (!HaveCodePage936() ||
        !xmlNewCharEncodingHandler("CP936", DecodeCodePage936, EncodeCodePage936))
        return false;
    for (const char* alias : {"GB2312", "GBK", "MS936", "WINDOWS-936"}) {
        if (xmlAddEncodingAlias("CP936", alias) != 0) return false;
    }
    return true;
}

Cp936Encoder::Cp936Encoder() : Available(HaveCodePage936()) {}

Cp936Encoder::~Cp936Encoder() = default;

bool Cp936Encoder::Append(std::string_view utf8, std::string& out) {
    if (!Ready()) return false;
    std::wstring run;
    // A run of characters beyond ASCII, converted in one call; when the code page lacks any of
    // them, again one by one, so that each missing one becomes a reference.
    const auto flush = [&] {
        if (run.empty()) return;
        const int size = static_cast<int>(run.size());
        std::string bytes(run.size() * 2, '\0');
        BOOL usedDefault = FALSE;
        const int n =
            ::WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, run.data(), size, bytes.data(),
                                  static_cast<int>(bytes.size()), nullptr, &usedDefault);
        if (n > 0 && !usedDefault) {
            out.append(bytes.data(), static_cast<size_t>(n));
        } else {
            for (const wchar_t unit : run) {
                char one[2];
                const int k = EncodeChar(static_cast<char16_t>(unit), one);
                if (k > 0) {
                    out.append(one, static_cast<size_t>(k));
                } else {
                    char reference[16];
                    std::snprintf(reference, sizeof reference, "&#x%X;",
                                  static_cast<unsigned>(static_cast<char16_t>(unit)));
                    out += reference;
                }
            }
        }
        run.clear();
    };
    while (!utf8.empty()) {
        char32_t c = 0;
        const size_t size = DecodeUtf8(utf8, c);
        if (size == 0) return false;
        utf8.remove_prefix(size);
        if (c >= 0x80 && c <= 0xFFFF) {
            run += static_cast<wchar_t>(c);
            continue;
        }
        flush();
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            char reference[16];
            std::snprintf(reference, sizeof reference, "&#x%X;", static_cast<unsigned>(c));
            out += reference;
        }
    }
    flush();
    return true;
}

}  // namespace toval
