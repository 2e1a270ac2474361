#pragma once
// One file of the update catalogue, also used as a probe record for a file on disk (see
// entry_probe.h for filling it from the disk and comparing it with the disk).

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/win_types.h"

namespace toval {

// A patch that turns one earlier version of a file into the catalogue's.
struct FilePatch {
    std::string FromSha256;  // of the earlier version, 64 hexadecimal digits
    std::string URL;         // of the patch, relative to the catalogue's own URL or absolute
    uint64_t Length = 0;     // of the patch
};

class CFileEntry {
  public:
    explicit CFileEntry(std::string fullPath = {}) : FullPath(std::move(fullPath)) {}
    CFileEntry(const CFileEntry&) = delete;
    CFileEntry& operator=(const CFileEntry&) = delete;

    VS_FIXEDFILEINFO FixedFileInfo{};
    uint64_t Length = 0;
    std::string FileName;
    std::string FileVersion;
    std::string ProductVersion;
    bool Register = false;
    std::string InstallDir = "CURRENTDIR";
    bool ZipFile = false;
    bool ForceOverwrite = false;
    bool Execute = false;
    std::string ExecutePar;
    std::string LocalPath;
    FILETIME FileDate{};
    std::string FullPath;
    std::string URL;
    std::string UserName;
    std::string Password;
    // The SHA-256 of the file's content as 64 hexadecimal digits; empty when the catalogue gives
    // none. A download that does not match it is never installed.
    std::string Sha256;
    // Patches from earlier versions, in the catalogue's order; empty when it lists none.
    std::vector<FilePatch> Patches;
    // The publisher's copy may be run: the new copy gets execute permission wherever it may be
    // read. It only ever adds execute bits; Windows files have none, so there it means nothing.
    bool Executable = false;
    bool NeedsUpdate = false;
};

}  // namespace toval
