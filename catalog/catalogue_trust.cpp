#include "catalog/catalogue_trust.h"

#include <charconv>

#include "platform/disk_space.h"
#include "platform/file_handle.h"
#include "platform/unique_file.h"

namespace toval {

namespace {

constexpr const char* kSerialsName = "/serials";
// Far more keys than a publisher will ever have; a larger file is not ours.
constexpr size_t kMaxSerialsBytes = 64 * 1024;

std::optional<uint64_t> ParseDecimal(std::string_view text) {
    uint64_t value = 0;
    if (text.empty() || text.front() < '0' || text.front() > '9') return std::nullopt;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The state directory is ours: a link standing at the file's place is not followed.
std::optional<std::string> ReadSerialsFile(const std::string& path) {
    if (ExaminePath(path).Kind != PathKind::Regular) return std::nullopt;
    FileHandle file = FileHandle::Open(path, OpenFor::Read);
    const std::optional<uint64_t> size = file.RegularSize();
    if (!size || *size > kMaxSerialsBytes) return std::nullopt;
    std::string text;
    char buffer[4096];
    while (true) {
        const int64_t n = file.Read(buffer, sizeof buffer);
        if (n < 0 || text.size() + static_cast<size_t>(n) > kMaxSerialsBytes) return std::nullopt;
        if (n == 0) return text;
        text.append(buffer, static_cast<size_t>(n));
    }
}

}  // namespace

TrustedCommentValues ParseTrustedComment(std::string_view text) {
    TrustedCommentValues values;
    bool haveSerial = false;
    bool haveExpires = false;
    const auto fail = [&](TrustedCommentStatus status) {
        values = {status, 0, 0};
        return values;
    };
    while (!text.empty()) {
        size_t start = 0;
        while (start < text.size() && IsBlank(text[start])) ++start;
        size_t end = start;
        while (end < text.size() && !IsBlank(text[end])) ++end;
        const std::string_view word = text.substr(start, end - start);
        text.remove_prefix(end);
        if (word.starts_with("serial:")) {
            if (haveSerial) return fail(TrustedCommentStatus::DuplicateSerial);
            const auto value = ParseDecimal(word.substr(7));
            if (!value) return fail(TrustedCommentStatus::BadSerial);
            values.Serial = *value;
            haveSerial = true;
        } else if (word.starts_with("expires:")) {
            if (haveExpires) return fail(TrustedCommentStatus::DuplicateExpires);
            const auto value = ParseDecimal(word.substr(8));
            if (!value) return fail(TrustedCommentStatus::BadExpires);
            values.Expires = *value;
            haveExpires = true;
        }
    }
    if (!haveSerial) return fail(TrustedCommentStatus::MissingSerial);
    if (!haveExpires) return fail(TrustedCommentStatus::MissingExpires);
    return values;
}

Freshness CheckFreshness(uint64_t serial, uint64_t expires, uint64_t now, uint64_t floor) {
    if (serial < floor) return Freshness::Rollback;
    if (now >= expires) return Freshness::Expired;
    return Freshness::Ok;
}

SerialFloors SerialFloors::Load(const std::string& stateDir) {
    SerialFloors floors;
    const auto text = ReadSerialsFile(stateDir + kSerialsName);
    if (!text) return floors;
    std::string_view rest = *text;
    while (!rest.empty()) {
        const size_t end = rest.find('\n');
        // Only whole lines count: a file cut short was not written by Save.
        if (end == std::string_view::npos) return {};
        const std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end + 1);
        const size_t space = line.find(' ');
        if (space == std::string_view::npos) return {};
        const auto id = minisign::ParseKeyIdHex(line.substr(0, space));
        const auto serial = ParseDecimal(line.substr(space + 1));
        if (!id || !serial || !floors.Floors.emplace(*id, *serial).second) return {};
    }
    return floors;
}

bool SerialFloors::Save(const std::string& stateDir) const {
    std::string text;
    for (const auto& [id, serial] : Floors)
        text += minisign::KeyIdHex(id) + " " + std::to_string(serial) + "\n";

    const std::string path = stateDir + kSerialsName;
    FileHandle file;
    const std::optional<std::string> temp = CreateFileBeside(path, file);
    if (!temp) return false;
    bool ok = file.WriteAll(text.data(), text.size()) && file.Sync();
    ok = file.Close() && ok;
    ok = ok && RenameOver(*temp, path);
    if (!ok) {
        RemoveFile(*temp);
        return false;
    }
    // The rename itself must reach the disk, or a crash could bring the old floors back.
    return SyncDirectory(stateDir);
}

uint64_t SerialFloors::Floor(const minisign::KeyId& id) const {
    const auto found = Floors.find(id);
    return found == Floors.end() ? 0 : found->second;
}

void SerialFloors::Raise(const minisign::KeyId& id, uint64_t serial) {
    uint64_t& floor = Floors[id];
    if (serial > floor) floor = serial;
}

}  // namespace toval
