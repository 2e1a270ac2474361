#include "engine/installer.h"

#include "catalog/hash_cache.h"
#include "net/update_path.h"
#include "platform/disk_space.h"
#include "platform/file_handle.h"
#include "platform/file_stamp.h"
#include "platform/utf8_path.h"

namespace toval {

namespace {
// The size and write time of the file at `path`, which a rename keeps; empty when unknown.
std::string StampText(const std::string& path) {
    const FileHandle file = FileHandle::Open(path, OpenFor::Read);
    const std::optional<FileStamp> stamp = StampOf(file);
    if (!stamp) return {};
    return std::to_string(stamp->Size) + " " + std::to_string(stamp->LastWrite.dwHighDateTime) +
           " " + std::to_string(stamp->LastWrite.dwLowDateTime);
}
}  // namespace

Installer::Installer(IProgramStarter& programs, std::string stateDir)
    : Programs(programs), Journal(stateDir), Hashes(std::move(stateDir)) {}

Installer::~Installer() { SyncDirectories(); }

bool Installer::SyncDownloads(const std::vector<std::string>& paths) {
    return paths.empty() || SyncFileSystemsOf(paths);
}

InstallResult Installer::Install(const CFileEntry& file, uint64_t length, ActionTiming timing) {
    const std::string& target = file.FullPath;
    const std::string source = UpdateFilePath(target);
    // The new file replaces the old one atomically, so an existing file needs no deleting first;
    // only a directory standing at the file's place keeps it out.
    if (ExaminePath(target).Kind == PathKind::Directory) {
        RemoveFile(source);
        return InstallResult::DirectoryInTheWay;
    }
    // What is renamed must be what was fetched and checked: a regular file (never a link to
    // elsewhere) of the length its checks passed at.
    const PathStatus fetched = ExaminePath(source);
    if (fetched.Kind != PathKind::Regular || (length != 0 && fetched.Size != length)) {
        RemoveFile(source);
        return InstallResult::RenameFailed;
    }

    std::vector<JournalAction> actions;
    const std::string stamp = file.Execute || file.Register ? StampText(source) : std::string();
    if (file.Execute)
        actions.push_back({JournalAction::Kind::Execute, target, file.ExecutePar, stamp});
    if (file.Register) actions.push_back({JournalAction::Kind::Register, target, {}, stamp});
    // Journaled before the rename: once the file is in place it looks current, and a run killed
    // before its program started would otherwise never start it.
    for (const JournalAction& action : actions) Journal.Add(action);

    // The transfer has already given the file its permissions and written it to the disk, so
    // the rename is the whole install. It swaps the new file in atomically: at every moment
    // either the old or the new file stands at the target, so a crash or a failure never loses
    // the player's copy.
    if (!RenameOver(source, target)) {
        for (const JournalAction& action : actions) Journal.Remove(action);
        RemoveFile(source);
        return InstallResult::RenameFailed;
    }
    // A partial's description outlives a complete download that was kept for the next run.
    RemoveFile(ResumeInfoPath(target));
    // Its download was checked against this hash: the next check need not read the file again.
    Hashes.Record(target, file.Sha256);
    Directories.insert(ParentDirectory(target));
    if (timing == ActionTiming::Now)
        for (const JournalAction& action : actions) Perform(action);
    return InstallResult::Installed;
}

void Installer::Perform(const JournalAction& action) {
    // Neither start is waited for nor examined: the run goes on with the next file at once.
    // The entry leaves the journal the moment the program runs, by a step the starting process
    // takes even when this one is killed right then: an action is neither lost nor run twice.
    StartMark mark = Journal.PrepareRemoval(action);
    if (action.What == JournalAction::Kind::Execute) {
        Programs.Execute(action.Path, action.Parameters, &mark);
    } else {
        Programs.Register(action.Path, &mark);
    }
    Journal.Removed(action, mark);
}

bool Installer::ReplayLeftovers(const std::function<void(const std::string&)>& announce) {
    bool damaged = false;
    for (const JournalAction& action : Journal.LoadLeftovers(damaged)) {
        // Only the file the entry was written for is started: a run killed before the rename
        // left the old one there, and a file replaced or removed since was not journaled.
        if (ExaminePath(action.Path).Kind != PathKind::Regular ||
            (!action.Stamp.empty() && StampText(action.Path) != action.Stamp)) {
            Journal.Remove(action);
            continue;
        }
        announce(action.Path);
        Perform(action);
    }
    return !damaged;
}

void Installer::SyncDirectories() {
    for (const std::string& dir : Directories) SyncDirectory(dir);
    Directories.clear();
}

}  // namespace toval
