#pragma once
// A catalogue's Length as a length the run can plan with.

#include <cstdint>
#include <limits>

namespace toval {

// `length`, or 0 (unknown) when no file could be that long: a Length the catalogue wrote as a
// negative number reads as one past the largest file offset, and planning with it would fail the
// space check of a whole update for one bad entry. Such an entry is still downloaded, as one
// without a Length is.
constexpr uint64_t KnownLength(uint64_t length) {
    constexpr auto kLargestFile = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    return length > kLargestFile ? 0 : length;
}

}  // namespace toval
