#pragma once
// Puts downloaded files in place: makes their data durable, renames each over the file it
// replaces, and starts its program or registers it when the catalogue asks, with the action
// journaled across the rename. Used on the run's thread only.

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "catalog/CFileEntry.h"
#include "catalog/hash_cache.h"
#include "engine/action_journal.h"
#include "engine/run_services.h"

namespace toval {

enum class InstallResult {
    Installed,
    DirectoryInTheWay,  // a directory stands where the file goes
    RenameFailed,       // the ".update" file could not be renamed (or is not the one fetched)
};

// When a file's action is started: now, or by the next run (the run is ending early, and a
// player who closed the window expects nothing to start; the journal carries it over).
enum class ActionTiming { Now, NextRun };

class Installer {
  public:
    // `stateDir` holds the action journal; empty: no journal.
    Installer(IProgramStarter& programs, std::string stateDir);
    // Makes the renames of the files installed so far durable.
    ~Installer();

    // Makes the data of the ".update" files at `paths` durable: after a power loss a renamed
    // file could otherwise be empty. False when it could not be.
    bool SyncDownloads(const std::vector<std::string>& paths);
    // Renames the downloaded file of `file` into place and acts on its install options.
    // `length`: the length the download was checked against (0: unknown).
    InstallResult Install(const CFileEntry& file, uint64_t length, ActionTiming timing);
    // Performs the actions an earlier run journaled but did not start, in order; `announce` is
    // told each file's path before its action. False when the journal was damaged (and dropped).
    bool ReplayLeftovers(const std::function<void(const std::string&)>& announce);
    // Makes the renames so far durable (before the lobby starts, and at the end).
    void SyncDirectories();

  private:
    void Perform(const JournalAction& action);

    IProgramStarter& Programs;
    ActionJournal Journal;
    std::set<std::string> Directories;  // where renames wait to be made durable
    InstalledHashes Hashes;             // of the files installed, for the next check
};

}  // namespace toval
