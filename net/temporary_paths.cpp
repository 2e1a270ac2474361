#include "net/temporary_paths.h"

#include "net/update_path.h"
#include "platform/file_handle.h"
#include "platform/reserved_names.h"

namespace toval {

namespace {

void ClearIfNotRegular(const std::string& path) {
    const PathKind kind = ExaminePath(path).Kind;
    if (kind == PathKind::Link || kind == PathKind::Other) RemoveFile(path);
}

}  // namespace

std::string PatchTargetPath(const std::string& target) {
    return target + std::string(kPatchSuffix);
}

void ClearOwnPaths(const std::string& target, bool withPatch) {
    ClearIfNotRegular(UpdateFilePath(target));
    ClearIfNotRegular(ResumeInfoPath(target));
    if (!withPatch) return;
    const std::string patch = PatchTargetPath(target);
    ClearIfNotRegular(UpdateFilePath(patch));
    ClearIfNotRegular(ResumeInfoPath(patch));
}

void RemoveDownloadLeftovers(const std::string& target) {
    RemoveFile(UpdateFilePath(target));
    RemoveFile(ResumeInfoPath(target));
}

}  // namespace toval
