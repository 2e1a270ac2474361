#pragma once
// The servers a catalogue names as mirrors of its files.

#include <string_view>

namespace toval {

// A catalogue names a few mirrors at most; more is not a catalogue a publisher wrote.
inline constexpr size_t kMaxMirrors = 16;

// True for an origin and nothing more: "http://" or "https://", a host name, IPv4 or bracketed
// IPv6 address, and an optional port from 1 to 65535. A path, query, credentials or blank would
// send a file somewhere its catalogue does not say.
bool IsMirrorOrigin(std::string_view text);

}  // namespace toval
