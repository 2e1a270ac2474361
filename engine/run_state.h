#pragma once
// Where a run stands and where each of its files stands, written down in one place each: every
// decision of the run reads these, never a combination of flags.

#include <cstdint>

namespace toval {

// The run's stage. It only moves forward, except that a command may connect an idle run again.
enum class RunStage {
    Idle,               // made, not started
    WaitingForLock,     // another updater works on this client directory
    FetchingCatalogue,  // the signature or the catalogue is on its way
    Downloading,        // the files are queued, fetched and installed in order
    Stopping,           // a file failed: nothing new starts, earlier files may still be installed
    Ended,              // the front end has been asked to quit; nothing more happens
};

// One queued transfer's progress, from queued to its action done. A file moves through these in
// order; a failed one stops where it failed.
enum class FileState {
    Queued,     // waiting for its turn (and for an earlier entry of the same target)
    Fetching,   // its transfer runs
    Fetched,    // its transfer ended well: the ".update" file is complete and verified
    Failed,     // its transfer ended with a failure code
    OnDisk,     // its ".update" file has been synced and may be renamed
    Installed,  // renamed into place
};

inline bool TransferEnded(FileState state) {
    return state != FileState::Queued && state != FileState::Fetching;
}

}  // namespace toval
