#include "platform/unique_file.h"

#include <random>

namespace toval {

std::optional<std::string> CreateFileBeside(const std::string& path, FileHandle& file,
                                            uint32_t mode) {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = path + ".";
        for (int i = 0; i < 6; ++i) name += kLetters[random() % (sizeof kLetters - 1)];
        file = FileHandle::Open(name, OpenFor::CreateNew, mode);
        if (file.IsOpen()) return name;
        // Only a name in use is worth another attempt; a missing directory fails them all.
        if (ExaminePath(name).Kind == PathKind::Missing) return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace toval
