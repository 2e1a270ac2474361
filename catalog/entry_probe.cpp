#include "catalog/entry_probe.h"

#include <charconv>
#include <string_view>

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

bool Probe(CFileEntry& entry) {
    if (entry.FullPath.empty()) return false;
    // A file that does not open has no readable time either, so nothing can be probed.
    const LocalFile file(entry.FullPath);
    if (!file.IsOpen()) return false;
    entry.Length = file.Size();
    const std::size_t slash = entry.FullPath.rfind('/');
    entry.FileName = slash == std::string::npos ? entry.FullPath : entry.FullPath.substr(slash + 1);
    VS_FIXEDFILEINFO info;
    if (file.ReadVersion(info) == 0) {
        entry.FixedFileInfo = info;
        SetVersionTexts(entry, info);
    }
    entry.FileDate = file.LastWrite();
    return true;
}

int32_t ReadVersion(CFileEntry& entry, const std::string& path, VS_FIXEDFILEINFO& info) {
    const int32_t status = ReadFixedFileInfo(path, info);
    // The texts describe the structure just read, whichever structure the caller passed.
    if (status == 0) SetVersionTexts(entry, info);
    return status;
}

bool OlderByTime(const CFileEntry& entry, FILETIME lastWrite) {
    return FileTimeToU64(lastWrite) < FileTimeToU64(entry.FileDate);
}

bool OlderThanListed(const CFileEntry& entry, const LocalFile& file) {
    if (entry.FileVersion.empty()) return OlderByTime(entry, file.LastWrite());
    // The local version is read only when the catalogue gives one, and its text is never stored.
    VS_FIXEDFILEINFO info;
    char text[24];
    const std::string_view local =
        file.ReadVersion(info) == 0
            ? std::string_view(text,
                               FormatVersion(text, info.dwFileVersionMS, info.dwFileVersionLS))
            : std::string_view();
    return CompareVersionTexts(local, entry.FileVersion) < 0;
}

bool CheckNeedsUpdate(CFileEntry& entry) {
    // An entry without a local path has no file to bring up to date (the reader drops such
    // entries; this keeps a stray one from being downloaded to a bare ".update").
    if (entry.FullPath.empty()) return entry.NeedsUpdate;
    // One open handle serves the whole decision: the file opened, so its time is readable.
    const LocalFile file(entry.FullPath);
    if (!file.IsOpen() || file.Size() != entry.Length || OlderThanListed(entry, file))
        entry.NeedsUpdate = true;
    return entry.NeedsUpdate;
}

}  // namespace toval
