#include "catalog/catalogue_trust.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>

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

std::optional<std::string> ReadSmallFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return std::nullopt;
    std::string text;
    char buffer[4096];
    bool ok = true;
    while (true) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || text.size() + static_cast<size_t>(n) > kMaxSerialsBytes) ok = false;
        if (n <= 0 || !ok) break;
        text.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    if (!ok) return std::nullopt;
    return text;
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
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
    const auto text = ReadSmallFile(stateDir + kSerialsName);
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
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = WriteAll(fd, text) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    // The rename itself must reach the disk, or a crash could bring the old floors back.
    const int dir = ::open(stateDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return false;
    ok = ::fsync(dir) == 0;
    ::close(dir);
    return ok;
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
