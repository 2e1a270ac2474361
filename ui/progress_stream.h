#pragma once
// The progress a launcher reads (--progress-fd): one JSON object a line, written on the repaint
// tick when anything in it has changed (at most ten a second), and a last line with the outcome.
// The fields are listed in the README.

#include <memory>
#include <string>
#include <string_view>

#include "engine/CUpdateRun.h"
#include "platform/line_channel.h"

namespace toval {

class ProgressStream {
  public:
    explicit ProgressStream(std::shared_ptr<LineChannel> channel);

    // The repaint tick: a line when the stage, the status, the file shown or a figure changed.
    void Tick(const RunSnapshot& run);
    // The run's last line: its outcome, the exit status and the texts the player saw last.
    // Written once; later calls do nothing.
    void End(const RunSnapshot& run, CUpdateRun::Outcome outcome, int exitStatus,
             std::string_view message);

  private:
    std::shared_ptr<LineChannel> Channel;
    std::string LastLine;
    bool Ended = false;
};

// The names the stream gives stages and outcomes.
std::string_view StageName(RunStage stage);
std::string_view OutcomeName(CUpdateRun::Outcome outcome, int exitStatus);

}  // namespace toval
