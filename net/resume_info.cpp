#include "net/resume_info.h"

#include <vector>

#include "platform/file_handle.h"
#include "platform/file_read.h"
#include "platform/state_record.h"
#include "platform/text.h"

namespace toval {

namespace {
constexpr uint64_t kInfoMaxBytes = 8 << 10;
// A partial cut by an earlier layout ("toval-resume 1") is fetched again from its start.
constexpr std::string_view kHeader = "toval-updater resume 2";

bool FitsOnALine(const std::string& text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
    return !text.empty();
}
}  // namespace

std::optional<ResumeInfo> ReadResumeInfo(const std::string& path) {
    const std::optional<std::string> text = ReadSmallFile(path, kInfoMaxBytes);
    const std::optional<std::vector<std::string>> fields =
        text ? ParseStateRecord(*text, kHeader) : std::nullopt;
    if (!fields || fields->size() != 3) return std::nullopt;
    ResumeInfo info{(*fields)[0], (*fields)[1]};
    const std::optional<uint64_t> bodyLength = ParseUnsignedDecimal((*fields)[2]);
    if (!bodyLength) return std::nullopt;
    info.Length = *bodyLength;
    if (!FitsOnALine(info.URL) || !FitsOnALine(info.Validator)) return std::nullopt;
    return info;
}

bool WriteResumeInfo(const std::string& path, const ResumeInfo& info) {
    if (!FitsOnALine(info.URL) || !FitsOnALine(info.Validator)) return false;
    const std::string length = std::to_string(info.Length);
    const std::string text = FormatStateRecord(kHeader, {info.URL, info.Validator, length});
    // Written in place: a torn file fails its sum, and the partial is fetched again from its
    // start. Never through a link, like the partial itself.
    FileHandle file = FileHandle::Open(path, OpenFor::Create);
    if (!file.IsOpen()) return false;
    const bool written = file.WriteAll(text.data(), text.size());
    const bool closed = file.Close();
    if (written && closed) return true;
    RemoveFile(path);
    return false;
}

std::string ResumeValidator(const std::string& etag, const std::string& lastModified) {
    if (!etag.empty() && !etag.starts_with("W/")) return etag;
    return lastModified;
}

}  // namespace toval
