#pragma once
// The actions (Execute, Register) of files renamed into place but whose programs have not been
// started yet. An entry is written and synced before its file's rename and removed once its
// program has been started, so a run killed between the two (power loss, kill -9, a crash) leaves
// the action for the next run, which performs it before anything else. The journal is rewritten
// whole each time and ends in a checksum: a damaged journal is discarded, never acted on in part.

#include <optional>
#include <string>
#include <vector>

#include "platform/process.h"

namespace toval {

struct JournalAction {
    enum class Kind { Execute, Register };
    Kind What = Kind::Execute;
    std::string Path;        // the installed file
    std::string Parameters;  // Execute's parameters
    // The size and write time of the file it is for: a run killed between the journal and the
    // rename leaves the old file in place, which must not be started in the new one's stead.
    std::string Stamp;

    bool operator==(const JournalAction&) const = default;
};

// The journal's text for `actions`, checksum included.
std::string FormatJournal(const std::vector<JournalAction>& actions);
// The actions of a journal's text; nothing when the text is damaged in any way.
std::optional<std::vector<JournalAction>> ParseJournal(const std::string& text);

class ActionJournal {
  public:
    // In `stateDir`; an empty one keeps no journal (the actions then only run now).
    explicit ActionJournal(std::string stateDir);

    // Adds `action` and makes it durable; false when it could not be.
    bool Add(const JournalAction& action);
    // Removes the first entry equal to `action`, without waiting for the disk: a program run
    // again after a power loss costs less than every start paying for two syncs.
    void Remove(const JournalAction& action);
    // The step that removes `action` from the journal on disk, for the process that starts its
    // program to take the moment the program runs (see StartMark); nothing is written to the
    // journal itself yet.
    StartMark PrepareRemoval(const JournalAction& action);
    // `action` has been started with `mark`: the entry is gone, by the mark's step or, when that
    // was not handed over, now.
    void Removed(const JournalAction& action, StartMark& mark);
    // What an earlier run left, in order; each stays journaled until it is Removed. A damaged
    // journal is deleted, yields nothing, and sets `damaged`.
    std::vector<JournalAction> LoadLeftovers(bool& damaged);

  private:
    bool Save(bool durable);
    std::string Path() const;

    std::string StateDir;
    std::vector<JournalAction> Pending;
};

}  // namespace toval
