#pragma once
// A catalogue entry held against its file on disk: the entry filled from the file, or the
// decision whether the file needs the update the entry describes.

#include <cstdint>
#include <string>

#include "catalog/CFileEntry.h"
#include "catalog/file_probe.h"
#include "platform/win_types.h"

namespace toval {

// Fills the entry's Length, FileName, FixedFileInfo, FileVersion, ProductVersion and FileDate
// from the file at its FullPath; true when any of them could be read.
bool Probe(CFileEntry& entry);

// Reads the version resource of `path` into `info` and formats the entry's FileVersion and
// ProductVersion from it. 0 or a negative status.
int32_t ReadVersion(CFileEntry& entry, const std::string& path, VS_FIXEDFILEINFO& info);

// Compares the catalogue entry with the file on disk; raises NeedsUpdate, never lowers it.
bool CheckNeedsUpdate(CFileEntry& entry);

// The decision by time alone, for an entry without a FileVersion: the file was last written
// before the time the catalogue gives.
bool OlderByTime(const CFileEntry& entry, FILETIME lastWrite);

// What the decision says of an open file of the right length: older than the entry, by the
// version the catalogue gives or else by time. A file without a readable version has an empty
// version text, which sorts first.
bool OlderThanListed(const CFileEntry& entry, const LocalFile& file);

}  // namespace toval
