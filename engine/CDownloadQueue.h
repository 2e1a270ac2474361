#pragma once
// The run's transfers in catalogue order. They start in that order, up to a few at once, finish
// in any order, and leave the queue from its front only, as they are installed in order. Every
// operation costs the same however many are queued, so a catalogue of 100,000 files neither
// slows the downloads nor the exit. Used on the run's thread only.

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

#include "catalog/CFileEntry.h"
#include "engine/known_length.h"
#include "engine/run_state.h"
#include "net/transfer.h"

namespace toval {

// What a transfer of the run fetches.
enum class TransferRole { Signature, Catalogue, File };

// One transfer of the run: what it fetches, and where it stands.
struct QueuedTransfer {
    int32_t Kind = 2;  // 1: the catalogue or its signature, 2: a file
    TransferRole Role = TransferRole::File;
    std::string ServerName;
    std::unique_ptr<CFileEntry> Entry;         // kind 2: the file it brings up to date
    std::unique_ptr<TransferRequest> Pending;  // kind 1: its request, until it starts
    std::unique_ptr<ITransfer> Transfer;       // made when it starts
    FileState State = FileState::Queued;
    uint32_t Code = 0;         // its result code, once its transfer has ended
    bool StatusShown = false;  // its name has been the status line
    uint64_t Sequence = 0;     // its place in the run, set by the queue
    std::chrono::steady_clock::time_point StartedAt{};  // for the run's log
    // Kind 2: the sequence of the entry queued before it for the same file, which must be
    // installed before this one may start (two writers of one ".update" would mix their bytes).
    std::optional<uint64_t> SameTargetBefore;

    bool Started() const { return Transfer != nullptr; }
    bool Done() const { return TransferEnded(State); }
    const std::string& FileName() const;
    // Where it writes (kind 2: the installed file, beside which its ".update" file is made).
    const std::string& TargetPath() const;
    // The length the catalogue gives, or 0 when it gives none that any file could have.
    uint64_t ExpectedLength() const;
};

class CDownloadQueue {
  public:
    CDownloadQueue() = default;
    ~CDownloadQueue();
    CDownloadQueue(const CDownloadQueue&) = delete;
    CDownloadQueue& operator=(const CDownloadQueue&) = delete;

    QueuedTransfer& Push(QueuedTransfer item);
    // Borrowed; stays queued. Null when empty.
    QueuedTransfer* Front();
    // The one queued right after `item`; null at the end.
    QueuedTransfer* After(const QueuedTransfer& item);
    // The first one that has not started; null when all have.
    QueuedTransfer* NextUnstarted();
    // Gives `item`, which must be NextUnstarted(), the transfer that fetches it.
    void Attach(QueuedTransfer& item, std::unique_ptr<ITransfer> transfer);
    // The item whose transfer is `transfer`; null when it is not queued (any more).
    QueuedTransfer* Find(const ITransfer* transfer);
    uint32_t Count() const { return static_cast<uint32_t>(Items.size()); }
    // Whether the item numbered `sequence` has left the queue (been installed or dropped).
    bool Left(uint64_t sequence) const { return sequence < FrontSequence; }
    // Destroys the front item, joining its worker.
    void PopFront();
    // Hands the front item over; Find no longer knows its transfer. The queue must not be empty.
    QueuedTransfer TakeFront();
    // Asks every transfer to stop, without waiting.
    void CancelAll();
    // Cancels every transfer first, so that their workers wind down together, then destroys them.
    void Clear();
    void ForEach(const std::function<void(const QueuedTransfer&)>& visit) const;

  private:
    // Items stay where they are while others are pushed or popped (a deque keeps references
    // valid at both ends), and an item's index is its sequence number less the front's.
    std::deque<QueuedTransfer> Items;
    uint64_t FrontSequence = 0;
    uint64_t NextSequence = 0;
    uint64_t UnstartedSequence = 0;
    std::unordered_map<const ITransfer*, QueuedTransfer*> Running;
};

}  // namespace toval
