#include "engine/CDownloadQueue.h"

namespace toval {

CDownloadQueue::~CDownloadQueue() { Clear(); }

void CDownloadQueue::Push(std::unique_ptr<CInetFile> transfer) {
    if (!transfer) return;
    const CInetFile* key = transfer.get();
    Items.push_back(std::move(transfer));
    Index.emplace(key, std::prev(Items.end()));
}

CInetFile* CDownloadQueue::After(const CInetFile* transfer) const {
    const auto found = Index.find(transfer);
    if (found == Index.end()) return nullptr;
    const auto next = std::next(found->second);
    return next == Items.end() ? nullptr : next->get();
}

bool CDownloadQueue::Remove(CInetFile* transfer) {
    const auto found = Index.find(transfer);
    if (found == Index.end()) return false;
    // Unlinked before it is destroyed: its destructor joins a worker that may still post, and the
    // queue must not hand it out meanwhile.
    std::unique_ptr<CInetFile> doomed = std::move(*found->second);
    Items.erase(found->second);
    Index.erase(found);
    return true;
}

void CDownloadQueue::Clear() {
    for (const auto& transfer : Items) transfer->Cancel.store(true);
    Index.clear();
    List doomed;
    doomed.swap(Items);
    while (!doomed.empty()) doomed.pop_front();
}

void CDownloadQueue::ForEach(const std::function<void(const CInetFile&)>& visit) const {
    for (const auto& transfer : Items) visit(*transfer);
}

}  // namespace toval
