#include "catalog/catalogue_trust.h"

#include <algorithm>

#include "platform/disk_space.h"
#include "platform/file_handle.h"
#include "platform/file_read.h"
#include "platform/path_join.h"
#include "platform/replace_file.h"
#include "platform/text.h"
#include "platform/unique_file.h"

namespace toval {

namespace {

constexpr std::string_view kLearntTargetName = "for";
// Far more than any of these files holds; a larger file is not ours.
constexpr size_t kMaxStateBytes = 64 * 1024;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsUnreserved(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

bool IsUpperHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

// One part of a target: unreserved characters and escapes of the other bytes, as
// CatalogueTarget writes them, so that each name has exactly one spelling.
bool IsTargetPart(std::string_view part) {
    if (part.empty()) return false;
    for (size_t i = 0; i < part.size(); ++i) {
        if (IsUnreserved(part[i])) continue;
        if (part[i] != '%' || i + 2 >= part.size() || !IsUpperHex(part[i + 1]) ||
            !IsUpperHex(part[i + 2]))
            return false;
        const auto digit = [](char c) { return c <= '9' ? c - '0' : c - 'A' + 10; };
        if (IsUnreserved(static_cast<char>(digit(part[i + 1]) * 16 + digit(part[i + 2]))))
            return false;
        i += 2;
    }
    return true;
}

std::string EncodeTargetPart(std::string_view part) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : part) {
        if (IsUnreserved(c)) {
            out += c;
        } else {
            const auto u = static_cast<unsigned char>(c);
            out += '%';
            out += kHex[u >> 4];
            out += kHex[u & 15];
        }
    }
    return out;
}

// The state directory is ours: a link standing at the file's place is not followed.
StateRecord ReadStateFile(const std::string& path) {
    const PathKind kind = ExaminePath(path).Kind;
    if (kind == PathKind::Missing) return {};
    if (kind != PathKind::Regular) return {false, std::nullopt};
    FileHandle file = FileHandle::Open(path, OpenFor::Read);
    const std::optional<uint64_t> size = file.RegularSize();
    if (!size) return {false, std::nullopt};
    if (*size > kMaxStateBytes) return {};
    std::string text;
    char buffer[4096];
    while (true) {
        const int64_t n = file.Read(buffer, sizeof buffer);
        if (n < 0) return {false, std::nullopt};
        if (text.size() + static_cast<size_t>(n) > kMaxStateBytes) return {};
        if (n == 0) return {true, text};
        text.append(buffer, static_cast<size_t>(n));
    }
}

// Replaces the file in one step: a crash leaves either the old text or the new one.
bool WriteStateFile(const std::string& stateDir, std::string_view name, const std::string& text) {
    return ReplaceFileWith(JoinPath(stateDir, name), text);
}

}  // namespace

TrustedCommentValues ParseTrustedComment(std::string_view text) {
    TrustedCommentValues values;
    bool haveSerial = false;
    bool haveExpires = false;
    bool haveFor = false;
    const auto fail = [&](TrustedCommentStatus status) {
        values = {status, 0, 0, {}};
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
            const auto value = ParseUnsignedDecimal(word.substr(7));
            if (!value) return fail(TrustedCommentStatus::BadSerial);
            values.Serial = *value;
            haveSerial = true;
        } else if (word.starts_with("expires:")) {
            if (haveExpires) return fail(TrustedCommentStatus::DuplicateExpires);
            const auto value = ParseUnsignedDecimal(word.substr(8));
            if (!value) return fail(TrustedCommentStatus::BadExpires);
            values.Expires = *value;
            haveExpires = true;
        } else if (word.starts_with("for:")) {
            if (haveFor) return fail(TrustedCommentStatus::DuplicateFor);
            if (!IsCatalogueTarget(word.substr(4))) return fail(TrustedCommentStatus::BadFor);
            values.For = word.substr(4);
            haveFor = true;
        }
    }
    if (!haveSerial) return fail(TrustedCommentStatus::MissingSerial);
    if (!haveExpires) return fail(TrustedCommentStatus::MissingExpires);
    return values;
}

std::string CatalogueTarget(std::string_view product, std::string_view channel) {
    std::string target = EncodeTargetPart(product);
    // Appended in two steps: GCC's -Wrestrict at -O3 misreads a `"/" + string` temporary here.
    if (!channel.empty()) {
        target += '/';
        target += EncodeTargetPart(channel);
    }
    return target;
}

bool IsCatalogueTarget(std::string_view word) {
    const size_t slash = word.find('/');
    if (slash == std::string_view::npos) return IsTargetPart(word);
    return IsTargetPart(word.substr(0, slash)) && IsTargetPart(word.substr(slash + 1));
}

Freshness CheckFreshness(uint64_t serial, uint64_t expires, uint64_t now, uint64_t floor) {
    if (serial < floor) return Freshness::Rollback;
    if (now >= expires) return Freshness::Expired;
    return Freshness::Ok;
}

std::optional<SerialFloor> SerialFloor::Load(const std::string& stateDir) {
    const StateRecord record = ReadStateFile(JoinPath(stateDir, kSerialsFile));
    if (!record.Usable) return std::nullopt;
    SerialFloor floor;
    if (!record.Text) return floor;
    std::string_view rest = *record.Text;
    while (!rest.empty()) {
        const size_t end = rest.find('\n');
        // Only whole lines count: a file cut short was not written by Save.
        if (end == std::string_view::npos) return SerialFloor();
        const std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end + 1);
        const size_t space = line.find(' ');
        if (space == std::string_view::npos) return SerialFloor();
        const auto id = minisign::ParseKeyIdHex(line.substr(0, space));
        const auto serial = ParseUnsignedDecimal(line.substr(space + 1));
        if (!id || !serial || !floor.Serials.emplace(*id, *serial).second) return SerialFloor();
    }
    return floor;
}

bool SerialFloor::Save(const std::string& stateDir) const {
    std::string text;
    for (const auto& [id, serial] : Serials)
        text += minisign::KeyIdHex(id) + " " + std::to_string(serial) + "\n";
    return WriteStateFile(stateDir, kSerialsFile, text);
}

uint64_t SerialFloor::Value(const std::vector<minisign::PublicKey>& trusted) const {
    uint64_t highest = 0;
    for (const minisign::PublicKey& key : trusted) {
        const auto found = Serials.find(key.Id);
        if (found != Serials.end()) highest = std::max(highest, found->second);
    }
    return highest;
}

void SerialFloor::Raise(const minisign::KeyId& id, uint64_t serial) {
    uint64_t& kept = Serials[id];
    if (serial > kept) kept = serial;
}

ExpectedTarget LoadExpectedTarget(const std::string& programDir, const std::string& stateDir) {
    ExpectedTarget expected;
    const std::string shipped = JoinPath(programDir, kExpectedTargetFile);
    // One line; an editor's line ending, CR LF included, is allowed.
    const auto target = [](const std::optional<std::string>& text) -> std::optional<std::string> {
        if (!text) return std::nullopt;
        std::string_view word = *text;
        if (word.ends_with('\n')) word.remove_suffix(1);
        if (word.ends_with('\r')) word.remove_suffix(1);
        if (!IsCatalogueTarget(word)) return std::nullopt;
        return std::string(word);
    };
    // A client file like the keys file, and read as that one is.
    if (ExaminePath(shipped).Kind != PathKind::Missing) {
        expected.From = ExpectedTarget::Source::Publisher;
        const std::optional<std::string> named = target(ReadSmallFile(shipped, kMaxStateBytes));
        expected.PublisherFileBad = !named;
        expected.Target = named.value_or("");
        return expected;
    }
    const StateRecord learnt = ReadStateFile(JoinPath(stateDir, kLearntTargetName));
    expected.StateUnusable = !learnt.Usable;
    if (const std::optional<std::string> named = target(learnt.Text)) {
        expected.From = ExpectedTarget::Source::Learnt;
        expected.Target = *named;
    }
    return expected;
}

bool SaveLearntTarget(const std::string& stateDir, std::string_view target) {
    return WriteStateFile(stateDir, kLearntTargetName, std::string(target) + "\n");
}

}  // namespace toval
