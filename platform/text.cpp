#include "platform/text.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <system_error>

namespace toval {

namespace {

unsigned char AsciiLower(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u >= 'A' && u <= 'Z' ? static_cast<unsigned char>(u - 'A' + 'a') : u;
}

bool IsCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The zero of every run of ten decimal digits in Unicode (general category Nd).
constexpr std::array<char32_t, 68> kDigitZeros = {
    0x30,    0x660,   0x6F0,   0x7C0,   0x966,   0x9E6,   0xA66,   0xAE6,   0xB66,   0xBE6,
    0xC66,   0xCE6,   0xD66,   0xDE6,   0xE50,   0xED0,   0xF20,   0x1040,  0x1090,  0x17E0,
    0x1810,  0x1946,  0x19D0,  0x1A80,  0x1A90,  0x1B50,  0x1BB0,  0x1C40,  0x1C50,  0xA620,
    0xA8D0,  0xA900,  0xA9D0,  0xA9F0,  0xAA50,  0xABF0,  0xFF10,  0x104A0, 0x10D30, 0x11066,
    0x110F0, 0x11136, 0x111D0, 0x112F0, 0x11450, 0x114D0, 0x11650, 0x116C0, 0x11730, 0x118E0,
    0x11950, 0x11C50, 0x11D50, 0x11DA0, 0x11F50, 0x16A60, 0x16AC0, 0x16B50, 0x1D7CE, 0x1D7D8,
    0x1D7E2, 0x1D7EC, 0x1D7F6, 0x1E140, 0x1E2F0, 0x1E4F0, 0x1E950, 0x1FBF0,
};

}  // namespace

int CompareIgnoringAsciiCase(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char ca = AsciiLower(a[i]);
        const unsigned char cb = AsciiLower(b[i]);
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && CompareIgnoringAsciiCase(a, b) == 0;
}

bool StartsWithIgnoringAsciiCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           EqualsIgnoringAsciiCase(text.substr(0, prefix.size()), prefix);
}

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

bool TakeSpaceAndSign(std::string_view& text) {
    std::size_t i = 0;
    while (i < text.size() && IsCSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    text.remove_prefix(i);
    return negative;
}

std::optional<unsigned> TakeAsciiDigit(std::string_view& text) {
    if (text.empty() || text[0] < '0' || text[0] > '9') return std::nullopt;
    const auto digit = static_cast<unsigned>(text[0] - '0');
    text.remove_prefix(1);
    return digit;
}

std::optional<unsigned> TakeUnicodeDigit(std::string_view& text) {
    char32_t c = 0;
    const std::size_t size = DecodeUtf8(text, c);
    if (size == 0) return std::nullopt;
    // The last zero not above c; c is a digit when it lies within ten of it.
    auto it = std::upper_bound(kDigitZeros.begin(), kDigitZeros.end(), c);
    if (it == kDigitZeros.begin() || c - *--it >= 10) return std::nullopt;
    text.remove_prefix(size);
    return static_cast<unsigned>(c - *it);
}

// from_chars reads no sign, blank or base prefix into an unsigned value, and refuses an
// overflow rather than wrapping.
std::optional<uint64_t> TakeUnsignedDecimal(std::string_view& text) {
    uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc()) return std::nullopt;
    text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    return value;
}

std::optional<uint64_t> ParseUnsignedDecimal(std::string_view text) {
    const std::optional<uint64_t> value = TakeUnsignedDecimal(text);
    if (!text.empty()) return std::nullopt;
    return value;
}

std::string Printable(std::string_view text, ControlStyle style) {
    const bool hex = style == ControlStyle::HexEscape;
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const bool c0 = (c < 0x20 && (hex || c != '\t')) || c == 0x7F;
        // C1 controls are C2 80 to C2 9F in UTF-8.
        const bool c1 = !hex && c == 0xC2 && i + 1 < text.size() &&
                        (static_cast<unsigned char>(text[i + 1]) & 0xE0) == 0x80;
        if (c0 && hex) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", c);
            out += escape;
        } else if (c0 || c1) {
            out += "\uFFFD";
            i += c1 ? 1 : 0;
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace toval
