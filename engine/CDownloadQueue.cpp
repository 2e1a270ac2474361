#include "engine/CDownloadQueue.h"

namespace toval {

const std::string& QueuedTransfer::FileName() const {
    static const std::string kNone;
    return Entry ? Entry->FileName : kNone;
}

const std::string& QueuedTransfer::TargetPath() const {
    static const std::string kNone;
    if (Entry) return Entry->FullPath;
    if (Transfer) return Transfer->Request().TargetPath;
    return Pending ? Pending->TargetPath : kNone;
}

uint64_t QueuedTransfer::ExpectedLength() const { return Entry ? KnownLength(Entry->Length) : 0; }

CDownloadQueue::~CDownloadQueue() { Clear(); }

QueuedTransfer& CDownloadQueue::Push(QueuedTransfer item) {
    item.Sequence = NextSequence++;
    Items.push_back(std::move(item));
    return Items.back();
}

QueuedTransfer* CDownloadQueue::Front() { return Items.empty() ? nullptr : &Items.front(); }

QueuedTransfer* CDownloadQueue::After(const QueuedTransfer& item) {
    const uint64_t index = item.Sequence - FrontSequence + 1;
    return index < Items.size() ? &Items[index] : nullptr;
}

QueuedTransfer* CDownloadQueue::NextUnstarted() {
    if (UnstartedSequence < FrontSequence) UnstartedSequence = FrontSequence;
    const uint64_t index = UnstartedSequence - FrontSequence;
    return index < Items.size() ? &Items[index] : nullptr;
}

void CDownloadQueue::Attach(QueuedTransfer& item, std::unique_ptr<ITransfer> transfer) {
    Running[transfer.get()] = &item;
    item.Transfer = std::move(transfer);
    UnstartedSequence = item.Sequence + 1;
}

QueuedTransfer* CDownloadQueue::Find(const ITransfer* transfer) {
    const auto found = Running.find(transfer);
    return found == Running.end() ? nullptr : found->second;
}

void CDownloadQueue::PopFront() {
    // Unlinked before it is destroyed: its destructor joins a worker that may still post, and
    // the queue must not hand it out meanwhile.
    if (!Items.empty()) QueuedTransfer doomed = TakeFront();
}

QueuedTransfer CDownloadQueue::TakeFront() {
    QueuedTransfer front = std::move(Items.front());
    Items.pop_front();
    ++FrontSequence;
    if (front.Transfer) Running.erase(front.Transfer.get());
    return front;
}

void CDownloadQueue::CancelAll() {
    for (QueuedTransfer& item : Items)
        if (item.Transfer) item.Transfer->Cancel();
}

void CDownloadQueue::Clear() {
    CancelAll();
    Running.clear();
    FrontSequence = UnstartedSequence = NextSequence;
    std::deque<QueuedTransfer> doomed;
    doomed.swap(Items);
}

void CDownloadQueue::ForEach(const std::function<void(const QueuedTransfer&)>& visit) const {
    for (const QueuedTransfer& item : Items) visit(item);
}

}  // namespace toval
