// Moving a downloaded file into place and acting on its install options.

#include "engine/CUpdateRun.h"
#include "engine/status_texts.h"
#include "net/update_path.h"
#include "platform/file_handle.h"
#include "platform/process.h"
#include "platform/utf8_path.h"

namespace toval {

bool CUpdateRun::InstallFile(const CFileEntry& file) {
    const std::string& target = file.FullPath;
    const std::string source = UpdateFilePath(target);
    // The transfer has already given the file its permissions and written it to the disk, so
    // the rename is the whole install. It swaps the new file in atomically: at every moment
    // either the old or the new file stands at the target, so a crash or a failure never loses
    // the player's copy.
    if (!RenameOver(source, target)) {
        SetStatus(FillText(kTextRenameFailed, {file.FileName}));
        return false;
    }
    InstalledDirectories.insert(ParentDirectory(target));
    SetStatus(FillText(kTextFileInstalled, {file.FileName}));

    // Neither start is waited for nor examined: the run goes on with the next file at once.
    if (file.Execute) ExecuteFile(target, file.ExecutePar);
    // The path is one argument, blanks and all.
    if (file.Register) RegisterComponent(target);
    return true;
}

}  // namespace toval
