#pragma once
// The last accepted catalogue, kept in the state directory with the validators of the answer
// that brought it, so that a launch with nothing new costs one small conditional request: a 304
// answer reuses the copy, which then goes through every check again.

#include <optional>
#include <string>

namespace toval {

struct KeptCatalogue {
    std::string Path;  // the copy
    std::string Url;   // where it came from
    std::string ETag;
    std::string LastModified;
};

// The copy kept for `url`; nothing when there is none for it.
std::optional<KeptCatalogue> FindKeptCatalogue(const std::string& stateDir, const std::string& url);
// Keeps a copy of the catalogue file at `source` with its validators, replacing any earlier one
// in one step; false when it could not (the next launch then fetches the whole catalogue).
bool KeepCatalogue(const std::string& stateDir, const std::string& source, const std::string& url,
                   const std::string& etag, const std::string& lastModified);
// Drops the copy, so that the next fetch asks for the whole catalogue.
void ForgetKeptCatalogue(const std::string& stateDir);

}  // namespace toval
