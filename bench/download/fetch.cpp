// Fetches one URL into one file with CInetFile, handling its messages on this thread the way the
// update run does, so that the benchmark pays for the notifications as well.
//     download_fetch URL FILE     exit status: the transfer's result code

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <utility>

#include "net/CInetFile.h"
#include "net/messages.h"
#include "net/network_library.h"

namespace {

struct Posted {
    uint32_t Message;
    uint32_t WParam;
    toval::ITransfer* Transfer;
};

class LoopSink : public toval::IMessageSink {
  public:
    void Post(uint32_t message, uint32_t wParam, toval::ITransfer* lParam) override {
        {
            std::lock_guard lock(Mutex);
            Queue.push_back({message, wParam, lParam});
        }
        Ready.notify_one();
    }
    Posted Next() {
        std::unique_lock lock(Mutex);
        Ready.wait(lock, [&] { return !Queue.empty(); });
        Posted m = Queue.front();
        Queue.pop_front();
        return m;
    }

  private:
    std::mutex Mutex;
    std::condition_variable Ready;
    std::deque<Posted> Queue;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s URL FILE\n", argv[0]);
        return 64;
    }
    LoopSink sink;
    const toval::NetworkLibrary network;
    toval::TransferRequest request;
    request.URL = argv[1];
    request.TargetPath = argv[2];
    request.Kind = 1;
    request.Writes = toval::BodyTarget::Path;
    toval::CInetFile transfer(std::move(request), &sink, toval::NetworkLibrary::Loop());
    if (!transfer.Start()) return 70;
    uint64_t bytes = 0;
    uint64_t messages = 0;
    while (true) {
        const Posted m = sink.Next();
        if (m.Message == toval::WM_DOWNLOAD_PROGRESS) {
            bytes += m.Transfer->TakeProgress();
            ++messages;
        } else if (m.Message == toval::WM_DOWNLOAD_COMPLETE) {
            const int code = static_cast<int>(toval::LowWord(m.WParam));
            if (code != 0 || bytes != transfer.Received() || std::getenv("FETCH_VERBOSE"))
                std::fprintf(stderr, "code %d, %llu bytes in %llu notifications\n", code,
                             static_cast<unsigned long long>(bytes),
                             static_cast<unsigned long long>(messages));
            return code;
        }
    }
}
