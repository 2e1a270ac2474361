#pragma once
// Ordering of version texts.

#include <string_view>

namespace toval {

// <0, 0, >0. When both texts are four decimal numbers joined by points, the four parts are
// compared as numbers; otherwise the texts are compared code unit by code unit with only A-Z
// folded to lower case, a proper prefix sorting first.
int CompareVersionTexts(std::string_view a, std::string_view b);

}  // namespace toval
