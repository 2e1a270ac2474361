#pragma once
// Byte-level text rules the updater and its tools share: ASCII letter case, C white space, UTF-8,
// decimal digits and showing untrusted text. None of them depends on the locale.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace toval {

// Only A-Z fold; every other byte, UTF-8 included, stands for itself.
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);
bool StartsWithIgnoringAsciiCase(std::string_view text, std::string_view prefix);

// -1, 0 or 1 by the folded bytes as unsigned values, a proper prefix first, so UTF-8 texts
// compare in code point order.
int CompareIgnoringAsciiCase(std::string_view a, std::string_view b);

// Length of the UTF-8 sequence at the front of `text` and its code point; 0 when the front is
// not a well-formed sequence (overlong forms, surrogates and values past U+10FFFF included).
std::size_t DecodeUtf8(std::string_view text, char32_t& codePoint);

// The front of a number as C's conversions read it: drops leading white space of the C locale
// (blank, tab, line feed, vertical tab, form feed, carriage return) and one sign; true when the
// sign was "-". Accumulating the digits, and what an overflow does, is the caller's rule.
bool TakeSpaceAndSign(std::string_view& text);

// The value of the decimal digit at the front of `text`, which is then dropped; nothing, with
// `text` unchanged, when the front is no digit. The ASCII form takes '0' to '9' only; the
// Unicode form any of Unicode's decimal digits (general category Nd) in well-formed UTF-8.
std::optional<unsigned> TakeAsciiDigit(std::string_view& text);
std::optional<unsigned> TakeUnicodeDigit(std::string_view& text);

// The rule of the numbers our own files and protocols carry: ASCII digits only, leading zeros
// allowed, no sign, no blanks, a value that fits 64 bits. Nothing for anything else, an empty
// text included. The Take form reads the digits at the front of `text` and drops them, leaving
// `text` unchanged when it reads nothing.
std::optional<uint64_t> ParseUnsignedDecimal(std::string_view text);
std::optional<uint64_t> TakeUnsignedDecimal(std::string_view& text);

// How Printable shows a control character.
enum class ControlStyle {
    // Every C0 control and DEL as "\xNN": the exact bytes, for a message about a text that
    // could not be used.
    HexEscape,
    // C0 controls but the tab, DEL, and the C1 controls (U+0080 to U+009F in UTF-8) as U+FFFD,
    // for lines a terminal shows: a name must neither forge lines nor drive the terminal.
    Replacement,
};

// `text` with its control characters shown by `style`; everything else as it stands.
std::string Printable(std::string_view text, ControlStyle style);

}  // namespace toval
