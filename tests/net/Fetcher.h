#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "net/CInetFile.h"
#include "net/network_library.h"
#include "tests/net/RecordingSink.h"

namespace toval::test {

// A request a test sets up, and the downloader made from it once the test acts on it.
class Fetcher {
  public:
    TransferRequest Req;
    IMessageSink* Sink = nullptr;

    CInetFile& Get() {
        if (!Transfer) Transfer = std::make_unique<CInetFile>(Req, Sink, NetworkLibrary::Loop());
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

// Starts `t`, whose messages go to `sink`, handles them as the run does until it completes, and
// joins it. One still running after `limit` fails the test and is cancelled: a limit the
// downloader does not enforce ends the test with a message instead of hanging it.
inline DrainedTransfer FetchToEnd(Fetcher& t, RecordingSink& sink,
                                  std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    EXPECT_TRUE(t.Start());
    DrainedTransfer d = sink.Drain(limit);
    if (!d.Completed) {
        ADD_FAILURE() << "the transfer had not ended after " << limit.count()
                      << " ms, and was cancelled";
        t.Cancel();
        sink.Drain();
    }
    t.Join();
    return d;
}

}  // namespace toval::test
