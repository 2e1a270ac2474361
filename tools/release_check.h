#pragma once
// toval-catalog --check URL: a published release looked at from the outside, as players meet it:
// the catalogue and its signature, every file on its server and every mirror, every patch, and
// what a player's updater would trip on. The report goes to standard output; the exit status is 0
// for a clean release and 1 for one with problems.

#include <optional>
#include <string>

#include "tools/catalog_options.h"

namespace toval::catalog_tool {

struct CheckRequest {
    std::string Url;
    std::optional<std::string> KeyFile;  // the publisher's public keys: the signature is checked
    bool Full = false;                   // every file downloaded and hashed
};

Stop CheckRelease(const CheckRequest& request);

}  // namespace toval::catalog_tool
