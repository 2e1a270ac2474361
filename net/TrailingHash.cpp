#include "net/TrailingHash.h"

#include <algorithm>
#include <memory>
#include <system_error>

namespace toval {

namespace {
constexpr size_t kReadBytes = 1 << 20;
}  // namespace

TrailingHash::TrailingHash(const FileHandle& file) : File(&file) { StartWorker(); }

TrailingHash::TrailingHash(const char* data) : Data(data) { StartWorker(); }

void TrailingHash::StartWorker() {
    try {
        Worker = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
    }
}

TrailingHash::~TrailingHash() {
    {
        std::lock_guard guard(Lock);
        Stopping = true;
    }
    Changed.notify_all();
    if (Worker.joinable()) Worker.join();
}

void TrailingHash::Advance(uint64_t bytes) {
    {
        std::lock_guard guard(Lock);
        if (bytes <= Available) return;
        Available = bytes;
    }
    Changed.notify_all();
}

std::optional<Sha256Digest> TrailingHash::Finish(uint64_t total) {
    std::unique_lock lock(Lock);
    Total = total;
    Available = std::max(Available, total);
    Finishing = true;
    Changed.notify_all();
    Changed.wait(lock, [this] { return Done; });
    if (Failed) return std::nullopt;
    lock.unlock();
    return Hash.Final();
}

void TrailingHash::Run() {
    const auto buffer = std::make_unique_for_overwrite<char[]>(Data ? 0 : kReadBytes);
    uint64_t hashed = 0;
    bool failed = false;
    for (;;) {
        uint64_t available = 0;
        {
            std::unique_lock lock(Lock);
            Changed.wait(lock, [&] {
                return Stopping || Available > hashed || (Finishing && hashed >= Total);
            });
            if (Stopping) break;
            if (Finishing && hashed >= Total) break;
            available = Available;
        }
        if (Data) {
            Hash.Update(Data + hashed, static_cast<size_t>(available - hashed));
            hashed = available;
        }
        while (hashed < available && !failed) {
            const size_t want =
                static_cast<size_t>(std::min<uint64_t>(kReadBytes, available - hashed));
            const int64_t n = File->ReadAt(buffer.get(), want, hashed);
            if (n <= 0) {
                failed = true;
                break;
            }
            Hash.Update(buffer.get(), static_cast<size_t>(n));
            hashed += static_cast<uint64_t>(n);
        }
        if (failed) break;
    }
    {
        std::lock_guard guard(Lock);
        Failed = failed || (Finishing && hashed != Total);
        Done = true;
    }
    Changed.notify_all();
}

}  // namespace toval
