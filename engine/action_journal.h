#pragma once
// The actions (Execute, Register) of files renamed into place but whose programs have not been
// started yet. An entry is written and synced before its file's rename and removed once its
// program has been started, so a run killed between the two (power loss, kill -9, a crash) leaves
// the action for the next run, which performs it before anything else. The journal is rewritten
// whole each time and ends in a checksum: a damaged journal is discarded, never acted on in part.

#include <optional>
#include <string>
#include <vector>

namespace toval {

struct JournalAction {
    enum class Kind { Execute, Register };
    Kind What = Kind::Execute;
    std::string Path;        // the installed file
    std::string Parameters;  // Execute's parameters

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
    // Removes the first entry equal to `action` and makes that durable.
    void Remove(const JournalAction& action);
    // What an earlier run left, in order; each stays journaled until it is Removed. A damaged
    // journal is deleted, yields nothing, and sets `damaged`.
    std::vector<JournalAction> LoadLeftovers(bool& damaged);

  private:
    bool Save();
    std::string Path() const;

    std::string StateDir;
    std::vector<JournalAction> Pending;
};

}  // namespace toval
