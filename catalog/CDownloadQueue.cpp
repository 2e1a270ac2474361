#include "catalog/CDownloadQueue.h"

#include <vector>

namespace toval {

CDownloadQueue::~CDownloadQueue() { Clear(); }

void CDownloadQueue::Push(CInetFile* transfer) {
    if (!transfer) return;  // a null would read as an empty queue at the front
    std::lock_guard guard(Lock);
    Items.push_back(transfer);
}

CInetFile* CDownloadQueue::Front() {
    std::lock_guard guard(Lock);
    return Items.empty() ? nullptr : Items.front();
}

uint32_t CDownloadQueue::Count() {
    std::lock_guard guard(Lock);
    return static_cast<uint32_t>(Items.size());
}

void CDownloadQueue::Remove(CInetFile* transfer) {
    {
        std::lock_guard guard(Lock);
        Items.remove(transfer);
    }
    // Destroying a transfer joins its worker; the queue stays usable meanwhile.
    delete transfer;
}

void CDownloadQueue::Clear() {
    std::vector<CInetFile*> doomed;
    {
        std::lock_guard guard(Lock);
        while (!Items.empty()) {
            CInetFile* front = Items.front();
            // Every occurrence goes with the first, so a transfer queued twice dies once.
            Items.remove(front);
            doomed.push_back(front);
        }
    }
    for (CInetFile* transfer : doomed) delete transfer;
}

}  // namespace toval
