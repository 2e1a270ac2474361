#pragma once
// What counts as XML text: well-formed UTF-8 of characters XML 1.0 allows.

#include <cstddef>
#include <string_view>

namespace toval {

// Length of the UTF-8 sequence at the front of `text` and its code point; 0 when the front is
// not a well-formed sequence (overlong forms, surrogates and values past U+10FFFF included).
std::size_t DecodeUtf8(std::string_view text, char32_t& codePoint);

// True when `text` is valid UTF-8 holding only characters XML 1.0 can carry.
bool IsXmlText(std::string_view text);

}  // namespace toval
