#include "net/resume_info.h"

#include <sstream>

#include "platform/file_handle.h"
#include "platform/file_read.h"
#include "platform/text.h"

namespace toval {

namespace {
constexpr uint64_t kInfoMaxBytes = 8 << 10;
constexpr std::string_view kMagic = "toval-resume 1";

bool FitsOnALine(const std::string& text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
    return !text.empty();
}
}  // namespace

std::optional<ResumeInfo> ReadResumeInfo(const std::string& path) {
    const std::optional<std::string> text = ReadSmallFile(path, kInfoMaxBytes);
    if (!text) return std::nullopt;
    std::istringstream lines(*text);
    std::string magic, length;
    ResumeInfo info;
    if (!std::getline(lines, magic) || magic != kMagic || !std::getline(lines, info.URL) ||
        !std::getline(lines, info.Validator) || !std::getline(lines, length))
        return std::nullopt;
    const std::optional<uint64_t> bodyLength = ParseUnsignedDecimal(length);
    if (!bodyLength) return std::nullopt;
    info.Length = *bodyLength;
    if (!FitsOnALine(info.URL) || !FitsOnALine(info.Validator)) return std::nullopt;
    return info;
}

bool WriteResumeInfo(const std::string& path, const ResumeInfo& info) {
    if (!FitsOnALine(info.URL) || !FitsOnALine(info.Validator)) return false;
    const std::string text = std::string(kMagic) + '\n' + info.URL + '\n' + info.Validator + '\n' +
                             std::to_string(info.Length) + '\n';
    // Written in place: a torn file either fails to read or names a URL, validator or length
    // that no longer matches, and either way the partial is fetched again from its start. Never
    // through a link, like the partial itself.
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
