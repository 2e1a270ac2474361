#include "engine/download_scheduler.h"

#include <algorithm>
#include <filesystem>

#include "net/update_path.h"
#include "platform/text.h"
#include "platform/utf8_path.h"

namespace toval {

std::string DownloadScheduler::TargetKey(const std::string& path) {
    // Two routes to one file ("a/./b", "a//b") are one target.
    std::string key = UpdateFilePath(Utf8OfPath(PathOfUtf8(path).lexically_normal()));
#ifdef _WIN32
    // Names that differ only in letter case are one file there.
    for (char& c : key)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    for (char& c : key)
        if (c == '\\') c = '/';
#endif
    return key;
}

QueuedTransfer& DownloadScheduler::Push(QueuedTransfer item) {
    QueuedTransfer& queued = Items.Push(std::move(item));
    if (queued.Kind == 2 && queued.Entry) {
        if (!FirstFile) FirstFile = queued.Sequence;
        const std::string key = TargetKey(queued.Entry->FullPath);
        const auto [it, fresh] = LastOfTarget.try_emplace(key, queued.Sequence);
        if (!fresh) {
            queued.SameTargetBefore = it->second;
            it->second = queued.Sequence;
        }
    }
    return queued;
}

uint32_t DownloadScheduler::LimitFor(const QueuedTransfer& item) const {
    const std::string* url = item.Entry     ? &item.Entry->URL
                             : item.Pending ? &item.Pending->URL
                                            : nullptr;
    const bool secure = url && StartsWithIgnoringAsciiCase(*url, "https://");
    return Multiplexing && secure ? std::max(Limit, kMultiplexedTransfers) : Limit;
}

QueuedTransfer* DownloadScheduler::NextToStart() {
    if (RunningCount >= std::max(Limit, kMultiplexedTransfers)) return nullptr;
    QueuedTransfer* next = Items.NextUnstarted();
    if (next && RunningCount >= LimitFor(*next)) return nullptr;
    const QueuedTransfer* front = Items.Front();
    // Finished files wait on the disk until the ones before them are in; how far ahead the
    // downloads may run is bounded, so their ".update" files never pile up without end.
    if (!next || !front || next->Sequence - front->Sequence >= kStartWindow) return nullptr;
    if (next->SameTargetBefore && !Items.Left(*next->SameTargetBefore)) return nullptr;
    return next;
}

bool DownloadScheduler::Start(QueuedTransfer& item, std::unique_ptr<ITransfer> transfer) {
    Items.Attach(item, std::move(transfer));
    if (!item.Transfer->Start()) return false;
    item.State = FileState::Fetching;
    ++RunningCount;
    UpdateShown();
    return true;
}

QueuedTransfer* DownloadScheduler::Ended(const ITransfer* transfer, uint32_t code) {
    QueuedTransfer* item = Items.Find(transfer);
    if (!item || item->Done()) return nullptr;
    item->Code = code;
    item->State = code == 0 ? FileState::Fetched : FileState::Failed;
    if (RunningCount > 0) --RunningCount;
    if (item->Transfer && item->Transfer->Result().Multiplexed) Multiplexing = true;
    return item;
}

void DownloadScheduler::CancelAfter(const QueuedTransfer& item) {
    for (QueuedTransfer* later = Items.After(item); later; later = Items.After(*later))
        if (later->State == FileState::Fetching) later->Transfer->Cancel();
}

ReadyFront DownloadScheduler::FindReadyFront() {
    ReadyFront ready;
    QueuedTransfer* next = Items.Front();
    for (; next && next->Kind == 2 && next->Done(); next = Items.After(*next)) {
        ++ready.Count;
        ready.Bytes += next->Transfer ? next->Transfer->Received() : 0;
        ready.HasFailure = ready.HasFailure || next->State == FileState::Failed;
    }
    ready.ReachesEnd = next == nullptr;
    ready.NextLength = next ? next->ExpectedLength() : 0;
    return ready;
}

void DownloadScheduler::UpdateShown() {
    ShownItem = nullptr;
    for (QueuedTransfer* item = Items.Front(); item; item = Items.After(*item)) {
        if (item->State == FileState::Queued) return;
        if (item->State != FileState::Fetching) continue;
        ShownItem = item;
        return;
    }
}

uint32_t DownloadScheduler::ShownPosition() const {
    if (!ShownItem || !FirstFile || ShownItem->Kind != 2) return 0;
    return static_cast<uint32_t>(ShownItem->Sequence - *FirstFile + 1);
}

void DownloadScheduler::Clear() {
    Items.Clear();
    RunningCount = 0;
    ShownItem = nullptr;
    LastOfTarget.clear();
}

}  // namespace toval
