#pragma once
// The last accepted catalogue, kept in the state directory with the validators of the answer
// that brought it, so that a launch with nothing new costs one small conditional request: a 304
// answer reuses the copy, which then goes through every check again.

#include <optional>
#include <string>
#include <vector>

namespace toval {

struct KeptCatalogue {
    std::string Path;  // the copy
    std::string Url;   // where it came from
    std::string ETag;
    std::string LastModified;
    std::vector<std::string> Mirrors;  // the servers it names as mirrors
};

// The copy kept for `url`; nothing when there is none for it.
std::optional<KeptCatalogue> FindKeptCatalogue(const std::string& stateDir, const std::string& url);
// The copy kept, whatever its URL.
std::optional<KeptCatalogue> FindAnyKeptCatalogue(const std::string& stateDir);
// Keeps a copy of the catalogue file at `source` as `kept` describes it (its Path is not read),
// replacing any earlier one in one step; false when it could not (the next launch then fetches
// the whole catalogue). Without validators the next request is not conditional.
bool KeepCatalogue(const std::string& stateDir, const std::string& source,
                   const KeptCatalogue& kept);
// Drops the copy, so that the next fetch asks for the whole catalogue.
void ForgetKeptCatalogue(const std::string& stateDir);

}  // namespace toval
