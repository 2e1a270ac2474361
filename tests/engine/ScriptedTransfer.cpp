#include "tests/engine/ScriptedTransfer.h"

#include <algorithm>
#include <fstream>
#include <utility>

#include "net/update_path.h"

namespace toval::test {

TransferFactory ScriptedTransfers::Factory() {
    return [this](TransferRequest request, IMessageSink& sink) -> std::unique_ptr<ITransfer> {
        return std::make_unique<ScriptedTransfer>(std::move(request), sink, *this);
    };
}

ScriptedTransfer* ScriptedTransfers::Find(const std::string& url) const {
    const auto found = Made.find(url);
    return found == Made.end() ? nullptr : found->second;
}

ScriptedTransfer::ScriptedTransfer(TransferRequest request, IMessageSink& sink,
                                   ScriptedTransfers& all)
    : Req(std::move(request)), Sink(sink), All(all) {
    All.Made[Req.URL] = this;
}

ScriptedTransfer::~ScriptedTransfer() {
    ++All.Destroyed;
    const auto found = All.Made.find(Req.URL);
    if (found != All.Made.end() && found->second == this) All.Made.erase(found);
}

bool ScriptedTransfer::Start() {
    if (std::find(All.Refused.begin(), All.Refused.end(), Req.URL) != All.Refused.end())
        return false;
    Started = true;
    All.Started.push_back(Req.URL);
    return true;
}

void ScriptedTransfer::Cancel() {
    if (!Running()) return;
    All.Cancelled.push_back(Req.URL);
    // As the real one, a cancelled transfer ends with code 8 (its completion is the test's to
    // post, with Finish).
    Outcome.Code = kResultCancelled;
}

uint64_t ScriptedTransfer::TakeProgress() { return std::exchange(Unreported, 0); }

void ScriptedTransfer::Progress(uint64_t bytes) {
    ReceivedBytes += bytes;
    Unreported += bytes;
    Sink.Post(WM_DOWNLOAD_PROGRESS, MakeNotifyParam(Req.Kind, 0), this);
}

void ScriptedTransfer::Finish(int32_t code, const std::string& body) {
    Finished = true;
    if (code == kResultOk) {
        std::ofstream(
            Req.Writes == BodyTarget::UpdateFile ? UpdateFilePath(Req.TargetPath) : Req.TargetPath,
            std::ios::binary | std::ios::trunc)
            << body;
        Unreported += body.size() - std::min<uint64_t>(ReceivedBytes, body.size());
        ReceivedBytes = body.size();
        Sink.Post(WM_DOWNLOAD_PROGRESS, MakeNotifyParam(Req.Kind, 0), this);
    }
    Outcome.Code = code;
    Outcome.AnsweredBy = Req.URL;
    if (code != kResultOk && code != kResultConnect && code != kResultCancelled)
        Outcome.ErrorText = ResultCodeText(code);
    Sink.Post(WM_DOWNLOAD_COMPLETE, MakeNotifyParam(Req.Kind, code), this);
}

}  // namespace toval::test
