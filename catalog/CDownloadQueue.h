#pragma once
// The transfers in the order in which they run; the queue owns them.

#include <cstdint>
#include <list>
#include <mutex>

#include "net/CInetFile.h"

namespace toval {

class CDownloadQueue {
  public:
    virtual ~CDownloadQueue();
    // Takes ownership. The same transfer may be pushed twice; Remove unlinks every occurrence.
    void Push(CInetFile* transfer);
    // Borrowed; stays queued. Null when empty.
    CInetFile* Front();
    uint32_t Count();
    // Unlinks every occurrence of `transfer`, then destroys it (also when it was not queued,
    // in which case the caller hands it over by passing it here).
    void Remove(CInetFile* transfer);
    void Clear();

  private:
    std::list<CInetFile*> Items;  // owned; a transfer may stand in the list more than once
    std::mutex Lock;
};

}  // namespace toval
