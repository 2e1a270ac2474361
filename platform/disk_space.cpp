#include "platform/disk_space.h"

#include <limits>
#include <map>
#include <unordered_map>

#include "platform/volumes.h"

namespace toval {

namespace {
#ifdef _WIN32
constexpr const char* kSeparators = "/\\";
#else
constexpr const char* kSeparators = "/";  // a backslash is part of a Linux file name
#endif
}  // namespace

std::optional<SpaceShortage> FindSpaceShortage(
    const std::vector<std::pair<std::string, uint64_t>>& files) {
    constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
    struct Volume {
        std::string Probe;
        uint64_t Needed = 0;
    };
    std::map<std::string, Volume> volumes;
    // Files of one directory share its file system: a catalogue of 100,000 files in a few
    // directories costs a few look-ups, not 100,000.
    std::unordered_map<std::string, std::optional<VolumeOf>> directories;
    for (const auto& [path, bytes] : files) {
        const size_t slash = path.find_last_of(kSeparators);
        const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash);
        auto known = directories.find(dir);
        if (known == directories.end())
            known = directories.emplace(dir, FindVolume(dir.empty() ? "/" : dir)).first;
        if (!known->second) continue;
        Volume& v = volumes[known->second->Id];
        if (v.Probe.empty()) v.Probe = known->second->Probe;
        v.Needed = bytes > kMax - v.Needed ? kMax : v.Needed + bytes;
    }
    for (const auto& [id, v] : volumes) {
        const std::optional<uint64_t> available = MeasureFreeBytes(v.Probe);
        if (available && v.Needed > *available) return SpaceShortage{v.Needed, *available};
    }
    return std::nullopt;
}

uint64_t FreeBytes(const std::string& dir) { return MeasureFreeBytes(dir).value_or(0); }

}  // namespace toval
