#pragma once
// The run's transfers in the order in which they run. The queue owns them; every operation costs
// the same however many are queued, so a catalogue of 100,000 files neither slows the downloads
// nor the exit. Used on the run's thread only.

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <unordered_map>

#include "net/CInetFile.h"

namespace toval {

class CDownloadQueue {
  public:
    CDownloadQueue() = default;
    ~CDownloadQueue();
    CDownloadQueue(const CDownloadQueue&) = delete;
    CDownloadQueue& operator=(const CDownloadQueue&) = delete;

    // Takes ownership; a null transfer is ignored (it would read as an empty queue).
    void Push(std::unique_ptr<CInetFile> transfer);
    // Borrowed; stays queued. Null when empty.
    CInetFile* Front() const { return Items.empty() ? nullptr : Items.front().get(); }
    uint32_t Count() const { return static_cast<uint32_t>(Items.size()); }
    bool Contains(const CInetFile* transfer) const { return Index.contains(transfer); }
    // The transfer queued right after `transfer`; null at the end or when it is not queued.
    CInetFile* After(const CInetFile* transfer) const;
    // Unlinks `transfer` and destroys it, joining its worker; false when it was not queued.
    bool Remove(CInetFile* transfer);
    // Cancels every transfer first, so that their workers wind down together, then destroys them.
    void Clear();
    void ForEach(const std::function<void(const CInetFile&)>& visit) const;

  private:
    using List = std::list<std::unique_ptr<CInetFile>>;
    List Items;
    std::unordered_map<const CInetFile*, List::iterator> Index;
};

}  // namespace toval
