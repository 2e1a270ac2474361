#pragma once
// The last look before a catalogue is signed: a signature vouches for every byte it lists, so
// the catalogue must list each file's hash, and the files as they are in the client directory.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/file_probe.h"
#include "tools/catalog_options.h"

namespace toval::catalog_tool {

// The SHA-256 of the open file in hexadecimal; nothing when it cannot be read to its end.
std::optional<std::string> HashOpenFile(const LocalFile& file);

// Reads the catalogue `bytes` back as the updater does and holds each entry against its file in
// options.ClientDir (found from its URL below options.BaseUrl): it must have a Sha256, and the
// file's length and hash must match the entry. `listed` holds the URLs of the entries written,
// each of which the updater must read.
Stop CheckAgainstClient(std::string_view bytes, const Options& options,
                        const std::vector<std::string>& listed);

}  // namespace toval::catalog_tool
