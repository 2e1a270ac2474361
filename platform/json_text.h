#pragma once
// Texts for JSON lines that other programs read with whatever JSON library they have: always
// valid UTF-8, every control character escaped.

#include <string>
#include <string_view>

namespace toval {

// `text` as a JSON string, quotes included. Bytes that are not well-formed UTF-8 become U+FFFD,
// so a file name in another encoding cannot make the line unreadable.
std::string JsonString(std::string_view text);

}  // namespace toval
