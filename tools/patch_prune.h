#pragma once
// Patches no catalogue lists any more: each publishing round leaves the previous round's behind,
// and only the publisher can tell which catalogues still count.

#include <filesystem>
#include <set>
#include <string>
#include <string_view>

#include "tools/catalog_options.h"

namespace toval::catalog_tool {

// The file name a patch URL ends in, relative or absolute.
std::string PatchFileName(std::string_view url);

// Adds to `names` the file names of the patches listed by every other *.xml catalogue in the
// directory of the catalogue `output`; fails, naming it, when one cannot be read as a catalogue.
Stop AddPatchesListedBeside(const std::string& output, std::set<std::string>& names);

// Removes each patch in `dir` (a file named as toval-catalog names patches) whose name is not in
// `keep`, with a line on stderr for each.
Stop PruneUnlisted(const std::filesystem::path& dir, const std::set<std::string>& keep);

}  // namespace toval::catalog_tool
