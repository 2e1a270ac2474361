#pragma once
// The downloader's own files beside a target while it works on it: the download, a patch's
// download, and the resume record of each.

#include <string>

namespace toval {

// The target a patch of `target` is fetched as: its download and resume record go beside that.
std::string PatchTargetPath(const std::string& target);

// Under the run lock these paths are the updater's alone. Whatever stands at one that is not a
// regular file (a link, a FIFO, a device: left by a crash, a restore or another program) is
// removed without being followed or opened, so that it neither fails every run with code 7 nor
// receives a write. `withPatch` covers the paths of a patch's download too. A directory stays:
// what it holds is not the updater's to remove.
void ClearOwnPaths(const std::string& target, bool withPatch);

// Removes the download of `target` and its resume record.
void RemoveDownloadLeftovers(const std::string& target);

}  // namespace toval
