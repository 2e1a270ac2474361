#pragma once
// Which transfer starts next, and which file the player is shown. Transfers start in catalogue
// order, a few at once, never further ahead of the first file not yet installed than a bounded
// window, and never while an earlier entry for the same file is still to be installed: one
// ".update" file has one writer at a time. Used on the run's thread only.

#include <cstdint>
#include <string>
#include <unordered_map>

#include "engine/CDownloadQueue.h"

namespace toval {

// How far past the first file not yet installed the downloads may start.
inline constexpr uint64_t kStartWindow = 256;
// Transfers at once over https:// once a server has answered over HTTP/2: they share one
// connection there, where over HTTP/1 each running file holds a connection of its own.
inline constexpr uint32_t kMultiplexedTransfers = 100;

// The files ready to install at the front of the queue.
struct ReadyFront {
    size_t Count = 0;         // transfers ended, from the front on
    uint64_t Bytes = 0;       // their bytes
    bool HasFailure = false;  // one of them failed
    bool ReachesEnd = false;  // nothing is queued after them
    uint64_t NextLength = 0;  // the length of the file after them
};

class DownloadScheduler {
  public:
    CDownloadQueue& Queue() { return Items; }
    const CDownloadQueue& Queue() const { return Items; }

    // The limit of transfers at once over HTTP/1 (all of them, until a server multiplexes).
    void SetTransferLimit(uint32_t limit) { Limit = limit == 0 ? 1 : limit; }
    uint32_t TransferLimit() const { return Limit; }
    uint32_t Running() const { return RunningCount; }

    // Queues a transfer; a file's entry is linked to an earlier one for the same target.
    QueuedTransfer& Push(QueuedTransfer item);
    // The next transfer that may start now; null when none may.
    QueuedTransfer* NextToStart();
    // Gives `item` its transfer and starts it; false when no worker could be started.
    bool Start(QueuedTransfer& item, std::unique_ptr<ITransfer> transfer);
    // The item of `transfer` after its completion with `code`, now Fetched or Failed; null when
    // the transfer is not queued or has been handled already.
    QueuedTransfer* Ended(const ITransfer* transfer, uint32_t code);
    // Asks every running transfer after `item` to stop.
    void CancelAfter(const QueuedTransfer& item);

    ReadyFront FindReadyFront();
    // The file the player is shown: the first whose transfer still runs; null when none does.
    const QueuedTransfer* Shown() const { return ShownItem; }
    // Finds the file shown again, after transfers started or ended.
    void UpdateShown();
    // The shown file's place among the run's files, from 1.
    uint32_t ShownPosition() const;

    // Forgets every transfer (see CDownloadQueue::Clear).
    void Clear();

  private:
    // The key under which two entries are one file: the path of its ".update" file, with the
    // letter case folded where the file system ignores it.
    static std::string TargetKey(const std::string& path);

    CDownloadQueue Items;
    // How many transfers may run once `item` starts.
    uint32_t LimitFor(const QueuedTransfer& item) const;

    uint32_t Limit = 5;
    uint32_t RunningCount = 0;
    bool Multiplexing = false;          // a transfer of the run was answered over HTTP/2
    std::optional<uint64_t> FirstFile;  // the sequence of the run's first file
    std::unordered_map<std::string, uint64_t> LastOfTarget;
    const QueuedTransfer* ShownItem = nullptr;
};

}  // namespace toval
