#pragma once
// A transfer with no network behind it, for tests of the run's bookkeeping where a server adds
// nothing (and could not make a later file finish first on cue): it ends when the test says,
// writing what the test gives it where the real downloader would.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "net/transfer.h"

namespace toval::test {

// The made-up server whose transfers are scripted: its catalogue, and where it keeps a file.
inline const std::string kCatalogueUrl = "http://updates.test/update.xml";
inline std::string FileUrl(const std::string& name) { return "http://updates.test/files/" + name; }

class ScriptedTransfer;

// Makes the transfers of a run and keeps track of them by URL.
class ScriptedTransfers {
  public:
    TransferFactory Factory();
    // The transfer made last for `url`; null when none was.
    ScriptedTransfer* Find(const std::string& url) const;
    // URLs in the order their transfers started.
    std::vector<std::string> Started;
    std::vector<std::string> Cancelled;
    int Destroyed = 0;
    // URLs whose transfers refuse to start, as a real one does when it gets no thread.
    std::vector<std::string> Refused;

  private:
    std::map<std::string, ScriptedTransfer*> Made;
    friend class ScriptedTransfer;
};

class ScriptedTransfer : public ITransfer {
  public:
    ScriptedTransfer(TransferRequest request, IMessageSink& sink, ScriptedTransfers& all);
    ~ScriptedTransfer() override;

    const TransferRequest& Request() const override { return Req; }
    bool Start() override;
    void Cancel() override;
    void Join() override {}
    uint64_t TakeProgress() override;
    uint64_t Received() const override { return ReceivedBytes; }
    const TransferResult& Result() const override { return Outcome; }

    // Writes `body` where the transfer writes (kind 2: the ".update" file) and posts its
    // completion with `code`.
    void Finish(int32_t code, const std::string& body = {});
    // Reports `bytes` more received, as the downloader's notification does.
    void Progress(uint64_t bytes);
    bool Running() const { return Started && !Finished; }

  private:
    TransferRequest Req;
    IMessageSink& Sink;
    ScriptedTransfers& All;
    TransferResult Outcome;
    uint64_t ReceivedBytes = 0;
    uint64_t Unreported = 0;
    bool Started = false;
    bool Finished = false;
};

}  // namespace toval::test
