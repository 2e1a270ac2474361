#pragma once
// What the free-space check needs of each system: which volume a directory lies on, and how
// much room that volume has. The check itself is the same everywhere (disk_space.cpp).

#include <cstdint>
#include <optional>
#include <string>

namespace toval {

struct VolumeOf {
    std::string Probe;  // the nearest existing ancestor of the directory asked about
    std::string Id;     // the same for every directory of one volume
};

// Nothing when no ancestor of `dir` exists or it cannot be looked at.
std::optional<VolumeOf> FindVolume(const std::string& dir);
// Bytes free for an unprivileged writer on the volume of the existing directory `dir`.
std::optional<uint64_t> MeasureFreeBytes(const std::string& dir);

}  // namespace toval
