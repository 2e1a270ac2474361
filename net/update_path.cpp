#include "net/update_path.h"

#include <cstdint>
#include <string_view>

#include "platform/reserved_names.h"

namespace toval {

namespace {

// NAME_MAX of the Linux file systems; a name of this many UTF-8 bytes has no more UTF-16 units,
// which is what NTFS counts.
constexpr size_t kMaxNameBytes = 255;
#ifdef _WIN32
constexpr const char* kSeparators = "/\\";
#else
constexpr const char* kSeparators = "/";
#endif
// What is kept of a name too long for the suffix: short enough that the hash and suffix fit, long
// enough that a person still recognises the file.
constexpr size_t kKeptNameBytes = 200;

uint64_t Fnv1a64(std::string_view bytes) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (const char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ull;
    }
    return hash;
}

// `target` with `suffix` added to its name, shortened when the whole would be too long a name.
std::string WithSuffix(const std::string& target, std::string_view suffix) {
    const size_t slash = target.find_last_of(kSeparators);
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::string_view name = std::string_view(target).substr(nameStart);
    if (name.size() + suffix.size() <= kMaxNameBytes) return target + std::string(suffix);

    // Cut before a lead byte, so the kept part stays whole characters of a UTF-8 name.
    size_t cut = kKeptNameBytes;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    // The hash covers the whole name, so names that share the kept part still differ.
    const uint64_t hash = Fnv1a64(name);
    std::string hex(16, '0');
    for (size_t i = 0; i < 16; ++i) hex[15 - i] = "0123456789abcdef"[(hash >> (4 * i)) & 0xF];
    return target.substr(0, nameStart) + std::string(name.substr(0, cut)) + "~" + hex +
           std::string(suffix);
}

}  // namespace

std::string UpdateFilePath(const std::string& target) { return WithSuffix(target, kUpdateSuffix); }

std::string ResumeInfoPath(const std::string& target) { return WithSuffix(target, kResumeSuffix); }

}  // namespace toval
