#include "engine/action_journal.h"

#include <cstdint>
#include <string_view>

#include "platform/disk_space.h"
#include "platform/file_handle.h"
#include "platform/file_read.h"
#include "platform/replace_file.h"
#include "platform/state_record.h"
#include "platform/unique_file.h"

namespace toval {

namespace {

// The layout is the state records' own: a journal of an earlier version reads the same.
constexpr std::string_view kHeader = "toval-updater actions 1";
// A journal holds the actions of one batch at most; anything larger is not ours.
constexpr uint64_t kJournalMaxBytes = 4 << 20;

}  // namespace

std::string FormatJournal(const std::vector<JournalAction>& actions) {
    std::vector<std::string_view> fields;
    for (const JournalAction& a : actions)
        fields.insert(fields.end(),
                      {a.What == JournalAction::Kind::Execute ? "execute" : "register", a.Path,
                       a.Parameters, a.Stamp});
    return FormatStateRecord(kHeader, fields);
}

std::optional<std::vector<JournalAction>> ParseJournal(const std::string& text) {
    const std::optional<std::vector<std::string>> fields = ParseStateRecord(text, kHeader);
    if (!fields || fields->size() % 4 != 0) return std::nullopt;
    std::vector<JournalAction> actions;
    for (std::size_t i = 0; i < fields->size(); i += 4) {
        JournalAction action;
        const std::string& kind = (*fields)[i];
        if (kind == "execute") {
            action.What = JournalAction::Kind::Execute;
        } else if (kind == "register") {
            action.What = JournalAction::Kind::Register;
        } else {
            return std::nullopt;
        }
        action.Path = (*fields)[i + 1];
        action.Parameters = (*fields)[i + 2];
        action.Stamp = (*fields)[i + 3];
        if (action.Path.empty()) return std::nullopt;
        actions.push_back(std::move(action));
    }
    return actions;
}

ActionJournal::ActionJournal(std::string stateDir) : StateDir(std::move(stateDir)) {}

std::string ActionJournal::Path() const { return StateDir + "/actions"; }

bool ActionJournal::Add(const JournalAction& action) {
    Pending.push_back(action);
    return Save(true);
}

void ActionJournal::Remove(const JournalAction& action) {
    for (auto it = Pending.begin(); it != Pending.end(); ++it) {
        if (*it == action) {
            Pending.erase(it);
            Save(false);
            return;
        }
    }
}

StartMark ActionJournal::PrepareRemoval(const JournalAction& action) {
    StartMark mark;
    if (StateDir.empty()) return mark;
    std::vector<JournalAction> after = Pending;
    for (auto it = after.begin(); it != after.end(); ++it) {
        if (*it == action) {
            after.erase(it);
            break;
        }
    }
    mark.To = Path();
    if (after.empty()) return mark;
    const std::string text = FormatJournal(after);
    FileHandle file;
    const std::optional<std::string> temp = CreateFileBeside(Path(), file);
    if (!temp) return {};
    const bool ok = file.WriteAll(text.data(), text.size());
    if (!file.Close() || !ok) {
        RemoveFile(*temp);
        return {};
    }
    mark.From = *temp;
    return mark;
}

void ActionJournal::Removed(const JournalAction& action, StartMark& mark) {
    if (mark.Done) {
        for (auto it = Pending.begin(); it != Pending.end(); ++it) {
            if (*it == action) {
                Pending.erase(it);
                return;
            }
        }
        return;
    }
    if (!mark.From.empty()) RemoveFile(mark.From);
    Remove(action);
}

std::vector<JournalAction> ActionJournal::LoadLeftovers(bool& damaged) {
    damaged = false;
    if (StateDir.empty() || ExaminePath(Path()).Kind == PathKind::Missing) return {};
    const std::optional<std::string> text = ReadSmallFile(Path(), kJournalMaxBytes);
    std::optional<std::vector<JournalAction>> actions = text ? ParseJournal(*text) : std::nullopt;
    if (!actions) {
        damaged = true;
        RemoveFile(Path());
        return {};
    }
    // They stay journaled until each has been started, like the actions of this run.
    Pending = *actions;
    return std::move(*actions);
}

bool ActionJournal::Save(bool durable) {
    if (StateDir.empty()) return false;
    const std::string path = Path();
    if (Pending.empty()) {
        // Nothing pending is the usual state: no file at all.
        const bool removed = RemoveFile(path) || ExaminePath(path).Kind == PathKind::Missing;
        return (!durable || SyncDirectory(StateDir)) && removed;
    }
    // An entry must survive a power loss that the rename of its file survives.
    return ReplaceFileWith(path, FormatJournal(Pending),
                           durable ? Durability::Synced : Durability::Unsynced);
}

}  // namespace toval
