#pragma once
// What reading a catalogue gave, kept in the state directory ("catalogue.parsed") beside the
// kept catalogue, so that a launch whose catalogue has the very bytes of the last one (answered
// 304, or sent again unchanged) reads its records instead of parsing tens of megabytes of XML.
// It is keyed by the SHA-256 of the catalogue's bytes and by the base directories the paths were
// resolved against, and carries a hash of its own content: one kept for other bytes, for another
// place, or damaged in any way is not used, and is written anew after the next parse.

#include <list>
#include <memory>
#include <string>
#include <vector>

#include "catalog/CFileEntry.h"
#include "catalog/install_path.h"
#include "platform/crypto.h"

namespace toval {

struct ParsedCatalogue {
    std::list<std::unique_ptr<CFileEntry>> Entries;
    std::vector<std::string> Mirrors;
    // Every entry gives a well-formed Sha256, as signed mode requires: found once, at the parse.
    bool EveryEntryHashed = false;
};

// The records kept in `stateDir` for the catalogue whose bytes hash to `catalogue`, read with
// `dirs`; nothing when none are kept for exactly those, or they are damaged.
std::optional<ParsedCatalogue> LoadParsedCatalogue(const std::string& stateDir,
                                                   const Sha256Digest& catalogue,
                                                   const BaseDirectories& dirs);

// Keeps `parsed` for the catalogue whose bytes hash to `catalogue`, replacing what was kept; false
// when it could not be written (the next launch then parses).
bool KeepParsedCatalogue(const std::string& stateDir, const Sha256Digest& catalogue,
                         const BaseDirectories& dirs,
                         const std::list<std::unique_ptr<CFileEntry>>& entries,
                         const std::vector<std::string>& mirrors, bool everyEntryHashed);

}  // namespace toval
