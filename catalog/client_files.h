#pragma once
// The client's files looked at by their full paths during one check, each directory opened once
// for all its files whatever order the catalogue lists them in.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/directory_look.h"

namespace toval {

class ClientFiles {
  public:
    // A file found by Look, with what opening it needs; valid until the next Look.
    struct Found {
        LookedFile File;
        const DirectoryLook* Directory = nullptr;
        std::string Name;

        FileHandle Open() { return Directory->Open(Name, File); }
    };

    // The regular, readable file at `fullPath` ('/' separates); nothing when it counts as absent.
    std::optional<Found> Look(const std::string& fullPath);

  private:
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const {
            return std::hash<std::string_view>{}(s);
        }
    };
    // A client has a few thousand directories at most; past this many open at once they are
    // closed and opened again as met, which keeps far from the descriptor limit.
    static constexpr std::size_t kMaxOpen = 256;
    std::unordered_map<std::string, DirectoryLook, Hash, std::equal_to<>> Directories;
};

}  // namespace toval
