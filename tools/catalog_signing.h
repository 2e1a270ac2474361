#pragma once
// Key pairs and catalogue signatures in minisign's formats.

#include <cstdint>
#include <string>
#include <string_view>

#include "tools/catalog_options.h"

namespace toval::catalog_tool {

// Writes `text` to a new file at `path` with `mode`; an existing file is never overwritten.
bool WriteNewFile(const std::string& path, std::string_view text, uint32_t mode);

Stop Keygen(const std::string& base);

// The signature file for the catalogue `bytes` named `name`, by the secret key at `keyPath`.
Stop SignCatalogue(const Options& options, std::string_view bytes, const std::string& name,
                   std::string& signature);

}  // namespace toval::catalog_tool
