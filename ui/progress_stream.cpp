#include "ui/progress_stream.h"

#include "platform/json_text.h"

namespace toval {

namespace {
// The fields every line has, in a fixed order.
std::string Fields(const RunSnapshot& run) {
    std::string line = "\"stage\":\"" + std::string(StageName(run.Stage)) + "\"";
    line += ",\"status\":" + JsonString(run.StatusText);
    line += ",\"file\":" + JsonString(run.ShownKind == 2 ? run.ShownFile : std::string());
    line += ",\"index\":" + std::to_string(run.FilePosition);
    line += ",\"count\":" + std::to_string(run.FileCount);
    line += ",\"file_percent\":" + std::to_string(run.FilePercent);
    line += ",\"total_percent\":" + std::to_string(run.TotalPercent);
    line += ",\"bytes\":" + std::to_string(run.ReceivedBytes);
    line += ",\"total\":" + std::to_string(run.TotalBytes);
    line += ",\"bytes_per_second\":" + std::to_string(run.BytesPerSecond);
    return line;
}
}  // namespace

std::string_view StageName(RunStage stage) {
    switch (stage) {
        case RunStage::Idle:
            return "starting";
        case RunStage::WaitingForLock:
            return "waiting";
        case RunStage::FetchingCatalogue:
            return "catalogue";
        case RunStage::Downloading:
            return "downloading";
        case RunStage::Stopping:
            return "stopping";
        case RunStage::Ended:
            return "ended";
    }
    return "ended";
}

std::string_view OutcomeName(CUpdateRun::Outcome outcome, int exitStatus) {
    if (exitStatus >= 128) return "signal";
    switch (outcome) {
        case CUpdateRun::Outcome::Finished:
            return "updated";
        case CUpdateRun::Outcome::UpToDate:
            return "current";
        case CUpdateRun::Outcome::Failed:
            return "failed";
        case CUpdateRun::Outcome::Running:
        case CUpdateRun::Outcome::Stopped:
            return "stopped";
    }
    return "stopped";
}

ProgressStream::ProgressStream(std::shared_ptr<LineChannel> channel)
    : Channel(std::move(channel)) {}

void ProgressStream::Tick(const RunSnapshot& run) {
    if (!Channel || Ended) return;
    std::string line = "{\"event\":\"progress\"," + Fields(run) + "}";
    if (line == LastLine) return;
    Channel->WriteLine(line, false);
    LastLine = std::move(line);
}

void ProgressStream::End(const RunSnapshot& run, CUpdateRun::Outcome outcome, int exitStatus,
                         std::string_view message) {
    if (!Channel || Ended) return;
    Ended = true;
    const std::string line = "{\"event\":\"end\"," + Fields(run) + ",\"outcome\":\"" +
                             std::string(OutcomeName(outcome, exitStatus)) +
                             "\",\"exit_status\":" + std::to_string(exitStatus) +
                             ",\"message\":" + JsonString(message) + "}";
    Channel->WriteLine(line, true);
}

}  // namespace toval
