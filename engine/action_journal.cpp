#include "engine/action_journal.h"

#include <cstdint>
#include <string_view>

#include "platform/crypto.h"
#include "platform/disk_space.h"
#include "platform/file_handle.h"
#include "platform/file_read.h"
#include "platform/replace_file.h"
#include "platform/text.h"
#include "platform/unique_file.h"

namespace toval {

namespace {

constexpr std::string_view kHeader = "toval-updater actions 1\n";
constexpr std::string_view kSumPrefix = "sum ";
// A journal holds the actions of one batch at most; anything larger is not ours.
constexpr uint64_t kJournalMaxBytes = 4 << 20;

// Fields are written with their length first, so a path may hold any byte, blanks and line
// breaks included.
void AppendField(std::string& out, std::string_view field) {
    out += std::to_string(field.size());
    out += ':';
    out += field;
    out += '\n';
}

std::optional<std::string_view> TakeField(std::string_view& in) {
    const size_t colon = in.find(':');
    if (colon == std::string_view::npos || colon == 0 || colon > 10) return std::nullopt;
    // At most ten digits, so the length fits a size_t of 64 bits; a 32-bit one is checked.
    const std::optional<uint64_t> length = ParseUnsignedDecimal(in.substr(0, colon));
    if (!length || *length > SIZE_MAX) return std::nullopt;
    const auto size = static_cast<size_t>(*length);
    in.remove_prefix(colon + 1);
    if (in.size() < size + 1 || in[size] != '\n') return std::nullopt;
    const std::string_view field = in.substr(0, size);
    in.remove_prefix(size + 1);
    return field;
}

std::string SumOf(std::string_view body) {
    Sha256 hash;
    hash.Update(body);
    const std::optional<Sha256Digest> digest = hash.Final();
    return digest ? ToHex(digest->data(), digest->size()) : std::string();
}

}  // namespace

std::string FormatJournal(const std::vector<JournalAction>& actions) {
    std::string body(kHeader);
    for (const JournalAction& a : actions) {
        AppendField(body, a.What == JournalAction::Kind::Execute ? "execute" : "register");
        AppendField(body, a.Path);
        AppendField(body, a.Parameters);
        AppendField(body, a.Stamp);
    }
    return body + std::string(kSumPrefix) + SumOf(body) + "\n";
}

std::optional<std::vector<JournalAction>> ParseJournal(const std::string& text) {
    const size_t sumAt = text.rfind(kSumPrefix);
    if (sumAt == std::string::npos || text.back() != '\n') return std::nullopt;
    const std::string_view body = std::string_view(text).substr(0, sumAt);
    const std::string_view sum = std::string_view(text).substr(
        sumAt + kSumPrefix.size(), text.size() - sumAt - kSumPrefix.size() - 1);
    if (sum.size() != 64 || sum != SumOf(body)) return std::nullopt;
    std::string_view in = body;
    if (in.substr(0, kHeader.size()) != kHeader) return std::nullopt;
    in.remove_prefix(kHeader.size());
    std::vector<JournalAction> actions;
    while (!in.empty()) {
        const auto kind = TakeField(in);
        const auto path = TakeField(in);
        const auto parameters = TakeField(in);
        const auto stamp = TakeField(in);
        if (!kind || !path || !parameters || !stamp || path->empty()) return std::nullopt;
        JournalAction action;
        if (*kind == "execute") {
            action.What = JournalAction::Kind::Execute;
        } else if (*kind == "register") {
            action.What = JournalAction::Kind::Register;
        } else {
            return std::nullopt;
        }
        action.Path = std::string(*path);
        action.Parameters = std::string(*parameters);
        action.Stamp = std::string(*stamp);
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
