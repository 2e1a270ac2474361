#pragma once

#include <memory>

#include "net/CInetFile.h"

namespace toval::test {

// A request a test sets up, and the downloader made from it once the test acts on it.
class Fetcher {
  public:
    TransferRequest Req;
    IMessageSink* Sink = nullptr;

    CInetFile& Get() {
        if (!Transfer) Transfer = std::make_unique<CInetFile>(Req, Sink);
        return *Transfer;
    }
    bool Start() { return Get().Start(); }
    void Join() { Get().Join(); }
    void Cancel() { Get().Cancel(); }
    uint64_t Received() { return Get().Received(); }
    uint64_t TakeProgress() { return Get().TakeProgress(); }
    const TransferResult& Result() { return Get().Result(); }

  private:
    std::unique_ptr<CInetFile> Transfer;
};

}  // namespace toval::test
