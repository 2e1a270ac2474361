#include "engine/CUpdateRun.h"
#include "ui/ConsoleLoop.h"
#include "ui/front_end.h"

namespace toval {

int RunConsoleFrontEnd(const StartOptions& options) {
    ConsoleLoop loop;
    // Declared after the loop: destroyed first, so transfers it still holds are cancelled and
    // joined while the loop they post to is alive.
    CUpdateRun run(loop, options.Directories.value_or(BaseDirectories::FromSystem()));
    run.SetCallerWindow(options.CallerWindow);
    run.StartRun(options.UpdateUrl);
    loop.Run(run);
    if (loop.TerminatedBy() != 0) return 128 + loop.TerminatedBy();
    switch (run.RunOutcome()) {
        case CUpdateRun::Outcome::Finished:
        case CUpdateRun::Outcome::UpToDate:
            return 0;
        default:
            return 1;
    }
}

}  // namespace toval
