#pragma once
// What counts as XML text: well-formed UTF-8 of characters XML 1.0 allows.

#include <string_view>

namespace toval {

// True when `text` is valid UTF-8 holding only characters XML 1.0 can carry.
bool IsXmlText(std::string_view text);

}  // namespace toval
