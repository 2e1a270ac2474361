#include "ui/ConsoleLoop.h"
#include "ui/front_end.h"

namespace toval {

int RunConsoleFrontEnd(const StartOptions& options) {
    ConsoleLoop loop;
    // Declared after the loop: goes first, so the transfers it still holds are cancelled and
    // joined while the loop they wake is alive.
    RunSession session(loop, options);
    loop.Run(session);
    return session.ExitStatus();
}

}  // namespace toval
