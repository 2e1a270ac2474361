#include "catalog/CFileEntry.h"

#include <charconv>
#include <string_view>
#include <utility>

#include "catalog/file_probe.h"
#include "catalog/version_compare.h"
#include "platform/pe_version.h"

namespace toval {

namespace {

// "%u.%u.%u.%u" of the four 16-bit parts: decimal, without padding. Returns the text's end.
char* FormatVersion(char (&text)[24], uint32_t ms, uint32_t ls) {
    char* end = text;
    const uint32_t parts[4] = {ms >> 16, ms & 0xFFFFu, ls >> 16, ls & 0xFFFFu};
    for (int i = 0; i < 4; ++i) {
        if (i) *end++ = '.';
        end = std::to_chars(end, text + sizeof text, parts[i]).ptr;
    }
    return end;
}

std::string VersionText(uint32_t ms, uint32_t ls) {
    char text[24];
    return std::string(text, FormatVersion(text, ms, ls));
}

void SetVersionTexts(CFileEntry& entry, const VS_FIXEDFILEINFO& info) {
    entry.FileVersion = VersionText(info.dwFileVersionMS, info.dwFileVersionLS);
    entry.ProductVersion = VersionText(info.dwProductVersionMS, info.dwProductVersionLS);
}

}  // namespace

CFileEntry::CFileEntry(std::string fullPath) : FullPath(std::move(fullPath)) {}

CFileEntry::~CFileEntry() = default;

bool CFileEntry::Probe() {
    if (FullPath.empty()) return false;
    // A file that does not open has no readable time either, so nothing can be probed.
    const LocalFile file(FullPath);
    if (!file.IsOpen()) return false;
    Length = file.Size();
    const std::size_t slash = FullPath.rfind('/');
    FileName = slash == std::string::npos ? FullPath : FullPath.substr(slash + 1);
    VS_FIXEDFILEINFO info;
    if (file.ReadVersion(info) == 0) {
        FixedFileInfo = info;
        SetVersionTexts(*this, info);
    }
    FileDate = file.LastWrite();
    return true;
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
    // The file opened, so the probe succeeds (its time is always readable) and both tests apply.
    // The probe is made in place, from the one open handle and without a probe record: the
    // local version is read only when the catalogue gives one, and its text is never stored.
    const uint64_t localLength = file.Size();
    if (FileVersion.empty()) {
        if (FileTimeToU64(file.LastWrite()) < FileTimeToU64(FileDate)) NeedsUpdate = true;
    } else {
        VS_FIXEDFILEINFO info;
        char text[24];
        // A file without a readable version has an empty version text, which sorts first.
        const std::string_view local =
            file.ReadVersion(info) == 0
                ? std::string_view(text,
                                   FormatVersion(text, info.dwFileVersionMS, info.dwFileVersionLS))
                : std::string_view();
        if (CompareVersionTexts(local, FileVersion) < 0) NeedsUpdate = true;
    }
    if (localLength != Length) NeedsUpdate = true;
    return NeedsUpdate;
}

}  // namespace toval
