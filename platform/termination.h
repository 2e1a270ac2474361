#pragma once
// SIGTERM, SIGINT and SIGHUP end a run in order (transfers cancelled, temporary files removed,
// the caller told) instead of killing it mid-write. The handlers only record the signal; the
// front ends look at it on every tick of their loops.

namespace toval {

void WatchTerminationSignals();
// The first of those signals received since the watch began, or 0.
int TerminationSignal();

}  // namespace toval
