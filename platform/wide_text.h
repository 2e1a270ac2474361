#pragma once
// UTF-8 inside the program, UTF-16 at the Windows API: paths and texts cross there.

#include <string>
#include <string_view>

namespace toval {

// Invalid UTF-8 or UTF-16 becomes U+FFFD rather than failing: a path that cannot be spelled
// then simply names no file.
std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);

}  // namespace toval
