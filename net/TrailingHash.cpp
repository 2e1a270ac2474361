#include "net/TrailingHash.h"

#include <algorithm>
#include <system_error>

namespace toval {

namespace {
constexpr size_t kReadBytes = 1 << 20;
// Blocks in circulation: one being filled, one being hashed and two waiting lets the two threads
// run at their own pace over short stretches without tying up memory.
constexpr size_t kBlocksInAll = 4;
}  // namespace

TrailingHash::TrailingHash(const FileHandle& file, uint64_t prefix, size_t blockBytes)
    : File(&file), Prefix(prefix), BlockBytes(blockBytes) {
    StartWorker();
}

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

std::unique_ptr<char[]> TrailingHash::Hand(std::unique_ptr<char[]> block, size_t size) {
    std::unique_lock lock(Lock);
    // Nothing hashes any more (reading the prefix failed): the result is a failure already.
    if (Done) return block;
    Queue.push_back({std::move(block), size});
    Changed.notify_all();
    if (Spare.empty() && Blocks < kBlocksInAll) {
        ++Blocks;
        lock.unlock();
        return std::make_unique_for_overwrite<char[]>(BlockBytes);
    }
    Changed.wait(lock, [this] { return !Spare.empty() || Done; });
    if (Spare.empty()) return std::make_unique_for_overwrite<char[]>(BlockBytes);
    std::unique_ptr<char[]> spare = std::move(Spare.back());
    Spare.pop_back();
    return spare;
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
    if (Data) Available = std::max(Available, total);
    Finishing = true;
    Changed.notify_all();
    Changed.wait(lock, [this] { return Done; });
    if (Failed) return std::nullopt;
    lock.unlock();
    return Hash.Final();
}

bool TrailingHash::HashPrefix() {
    if (!File || Prefix == 0) return true;
    const auto buffer = std::make_unique_for_overwrite<char[]>(kReadBytes);
    while (Hashed < Prefix) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(kReadBytes, Prefix - Hashed));
        const int64_t n = File->ReadAt(buffer.get(), want, Hashed);
        if (n <= 0) return false;
        Hash.Update(buffer.get(), static_cast<size_t>(n));
        Hashed += static_cast<uint64_t>(n);
    }
    return true;
}

void TrailingHash::Run() {
    bool failed = !HashPrefix();
    while (!failed) {
        Block block;
        uint64_t available = 0;
        {
            std::unique_lock lock(Lock);
            const auto mapped = [&] { return Data && Available > Hashed; };
            Changed.wait(lock, [&] { return Stopping || !Queue.empty() || mapped() || Finishing; });
            if (Stopping) break;
            if (!Queue.empty()) {
                block = std::move(Queue.front());
                Queue.pop_front();
            } else if (mapped()) {
                available = Available;
            } else {
                break;  // finishing, and everything written is hashed
            }
        }
        if (block.Bytes) {
            Hash.Update(block.Bytes.get(), block.Size);
            Hashed += block.Size;
            {
                std::lock_guard guard(Lock);
                Spare.push_back(std::move(block.Bytes));
            }
            Changed.notify_all();
        } else {
            Hash.Update(Data + Hashed, static_cast<size_t>(available - Hashed));
            Hashed = available;
        }
    }
    {
        std::lock_guard guard(Lock);
        Failed = failed || (Finishing && Hashed != Total);
        Done = true;
    }
    Changed.notify_all();
}

}  // namespace toval
