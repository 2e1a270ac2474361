#pragma once
// A channel of text lines to the program that started us: a descriptor it left open for us (on
// Windows a handle it let us inherit). The reader is another program, so a slow one must not hold
// the updater, and a line must reach it whole or not at all.

#include <cstdint>
#include <memory>
#include <string_view>

namespace toval {

class LineChannel {
  public:
    virtual ~LineChannel() = default;
    // Writes `line` and a line end. An ordinary line is dropped when the reader has not taken
    // the ones before (a pipe that is full); a line that `mustArrive` waits up to two seconds for
    // room. A line once begun is always finished, or the channel is closed for good.
    virtual void WriteLine(std::string_view line, bool mustArrive) = 0;
};

// The channel on descriptor (handle) `id`; null when it names nothing open for writing.
std::unique_ptr<LineChannel> OpenLineChannel(uint64_t id);

}  // namespace toval
