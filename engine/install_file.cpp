// Moving a downloaded file into place and acting on its install options.

#include <sys/stat.h>

#include <cstdio>

#include "engine/CUpdateRun.h"
#include "engine/status_texts.h"
#include "platform/process.h"
#include "platform/shell_words.h"

namespace toval {

namespace {

// A downloaded file is created with default permissions. It takes over the permissions of the
// copy it replaces, so that an updated program stays executable; a file the catalogue asks to
// run gets execute permission wherever it may be read, or it could not be started.
void CarryPermissions(const std::string& source, const std::string& target, bool execute) {
    struct stat st {};
    if (::lstat(source.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
    mode_t mode = st.st_mode & 0777;
    if (::stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) mode = st.st_mode & 0777;
    if (execute) mode |= (mode & 0444) >> 2;
    ::chmod(source.c_str(), mode);
}

}  // namespace

void CUpdateRun::InstallFile(CInetFile& transfer) {
    const std::string& target = transfer.TargetPath;
    const std::string source = target + ".update";
    CarryPermissions(source, target, transfer.Execute);
    // rename(2) swaps the new file in atomically: at every moment either the old or the new
    // file stands at the target, so a crash or a failure never loses the player's copy.
    if (std::rename(source.c_str(), target.c_str()) != 0) {
        SetStatus(FillText(kTextRenameFailed, {transfer.FileName}));
        return;
    }
    SetStatus(FillText(kTextFileInstalled, {transfer.FileName}));

    // Neither start is waited for nor examined: the run goes on with the next file at once.
    if (transfer.Execute) {
        // Parameters that do not split (an open quote) would start the program with arguments
        // it was never meant to see, so it is not started at all.
        if (auto args = SplitShellWords(transfer.ExecutePar)) StartFile(target, *args);
    }
    if (transfer.Register) {
        const std::string regsvr32 = FindInPath("regsvr32");
        // The path is one argument, blanks and all.
        if (!regsvr32.empty()) StartDetached(regsvr32, {"/s", target});
    }
}

}  // namespace toval
