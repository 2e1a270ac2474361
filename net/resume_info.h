#pragma once
// What a partial ".update" file was cut from, kept beside it: the next run asks the server for
// the rest only while the server still serves the same content (If-Range with this validator),
// so a file is never spliced from two versions.

#include <cstdint>
#include <optional>
#include <string>

namespace toval {

struct ResumeInfo {
    std::string URL;
    // A strong ETag, or else the Last-Modified date, of the answer that began the file.
    std::string Validator;
    uint64_t Length = 0;  // of the whole body; 0 when that answer did not say
};

std::optional<ResumeInfo> ReadResumeInfo(const std::string& path);
// False when it could not be written (the partial then
// cannot be continued, which costs bytes but never correctness).
bool WriteResumeInfo(const std::string& path, const ResumeInfo& info);

// The validator an answer's headers offer for continuing its body later; empty when they offer
// none fit for If-Range (a weak ETag never is).
std::string ResumeValidator(const std::string& etag, const std::string& lastModified);

}  // namespace toval
