#pragma once
// Which patches a file's transfer may fetch at all.

#include <cstdint>

namespace toval {

// A patch is fetched only to save bytes, so one longer than its file (or of a length nobody
// knows) is never fetched: such a length would let a catalogue fill the disk with a patch
// before the whole file is fetched anyway. Its file's length must be known to tell.
constexpr bool PatchWorthFetching(uint64_t patchLength, uint64_t fileLength) {
    return patchLength != 0 && fileLength != 0 && patchLength <= fileLength;
}

}  // namespace toval
