#include "catalog/CFileEntry.h"

#include <charconv>
#include <utility>

#include "catalog/file_probe.h"
#include "catalog/version_compare.h"
#include "platform/file_time.h"
#include "platform/pe_version.h"

namespace toval {

namespace {

std::string VersionText(uint32_t ms, uint32_t ls) {
    char text[32];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", ms >> 16, ms & 0xFFFFu, ls >> 16, ls & 0xFFFFu);
    return text;
}

void SetVersionTexts(CFileEntry& entry, const VS_FIXEDFILEINFO& info) {
    entry.FileVersion = VersionText(info.dwFileVersionMS, info.dwFileVersionLS);
    entry.ProductVersion = VersionText(info.dwProductVersionMS, info.dwProductVersionLS);
}

// Probe's work on a file that is already open, so that a decision opens its file only once.
// The time of an open file is always readable, so an open file always probes successfully; the
// version resource is read only when `withVersion`, since nothing else depends on it.
bool ProbeOpenFile(CFileEntry& entry, const LocalFile& file, bool withVersion) {
    const auto size = static_cast<uint64_t>(file.Stat().st_size);
    entry.Length = size;
    const std::size_t slash = entry.FullPath.rfind('/');
    entry.FileName = slash == std::string::npos ? entry.FullPath : entry.FullPath.substr(slash + 1);
    if (withVersion) {
        FdImageSource image(file.Descriptor(), size);
        VS_FIXEDFILEINFO info;
        if (ReadFixedFileInfo(image, info) == 0) {
            entry.FixedFileInfo = info;
            SetVersionTexts(entry, info);
        }
    }
    entry.FileDate = FileTimeFromTimespec(file.Stat().st_mtim);
    return true;
}

}  // namespace

CFileEntry::CFileEntry(std::string fullPath) : FullPath(std::move(fullPath)) {}

CFileEntry::~CFileEntry() = default;

bool CFileEntry::Probe() {
    if (FullPath.empty()) return false;
    // A file that does not open has no readable time either, so nothing can be probed.
    const LocalFile file(FullPath);
    return file.IsOpen() && ProbeOpenFile(*this, file, true);
}

int32_t CFileEntry::ReadVersion(const std::string& path, VS_FIXEDFILEINFO& info) {
    const int32_t status = ReadFixedFileInfo(path, info);
    // The texts describe the structure just read, whichever structure the caller passed.
    if (status == 0) SetVersionTexts(*this, info);
    return status;
}

bool CFileEntry::CheckNeedsUpdate() {
    // An entry without a local path has no file to bring up to date (the reader drops such
    // entries; this keeps a stray one from being downloaded to a bare ".update").
    if (FullPath.empty()) return NeedsUpdate;
    const LocalFile file(FullPath);
    if (!file.IsOpen()) {
        NeedsUpdate = true;
        return NeedsUpdate;
    }
    // Without a catalogue version only the time and the length are compared, so the local
    // version resource, which could not change the verdict, is not read.
    CFileEntry local(FullPath);
    if (ProbeOpenFile(local, file, !FileVersion.empty())) {
        if (FileVersion.empty()) {
            if (FileTimeToU64(local.FileDate) < FileTimeToU64(FileDate)) NeedsUpdate = true;
        } else if (CompareVersionTexts(local.FileVersion, FileVersion) < 0) {
            NeedsUpdate = true;
        }
        if (local.Length != Length) NeedsUpdate = true;
    }
    return NeedsUpdate;
}

}  // namespace toval
