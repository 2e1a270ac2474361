#pragma once
// One file of the update catalogue, also used as a probe record for a file on disk.

#include <cstdint>
#include <string>
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
    explicit CFileEntry(std::string fullPath = {});
    virtual ~CFileEntry();
    CFileEntry(const CFileEntry&) = delete;
    CFileEntry& operator=(const CFileEntry&) = delete;

    // Fills Length, FileName, FixedFileInfo, FileVersion, ProductVersion and FileDate from the
    // file at FullPath; true when any of them could be read.
    bool Probe();

    // Reads the version resource of `path` into `info` and formats FileVersion and
    // ProductVersion from it. 0 or a negative status.
    int32_t ReadVersion(const std::string& path, VS_FIXEDFILEINFO& info);

    // Compares this catalogue entry with the file on disk; raises NeedsUpdate, never lowers it.
    bool CheckNeedsUpdate();

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
    bool NeedsUpdate = false;
};

}  // namespace toval
