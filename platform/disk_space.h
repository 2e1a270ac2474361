#pragma once
// What a run is about to write, measured against the room the file systems have for it.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace toval {

struct SpaceShortage {
    uint64_t Needed = 0;     // bytes to be written to the file system that lacks room
    uint64_t Available = 0;  // bytes free there for an unprivileged writer
};

// `files` are (path, bytes) pairs of files yet to be written; a path need not exist yet: it is
// measured at its nearest existing ancestor. Files on one file system are summed. Returns the
// first file system whose sum exceeds its free space; nothing when every one has room or when a
// file system cannot be measured (the writes then report their own failures).
std::optional<SpaceShortage> FindSpaceShortage(
    const std::vector<std::pair<std::string, uint64_t>>& files);

// Bytes free for an unprivileged writer on the file system of `dir`; 0 when it cannot be measured.
uint64_t FreeBytes(const std::string& dir);

// Writes out everything waiting for the disk on each file system that holds one of `paths`, with
// one syncfs per file system however many files it holds; false when any of them failed.
bool SyncFileSystemsOf(const std::vector<std::string>& paths);

// Makes the entries of `dir` (renames into it) durable; false when it cannot.
bool SyncDirectory(const std::string& dir);

}  // namespace toval
