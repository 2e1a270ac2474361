#pragma once
// The catalogue's gzip copy, FILE.gz beside FILE, for a web server to send to updaters that ask
// for it (nginx's gzip_static): a 100,000-file catalogue of 67 MB travels as 2.5 MB.

#include <string>
#include <string_view>

#include "tools/catalog_options.h"

namespace toval::catalog_tool {

// Writes `catalogue` compressed to `path` (beside it first, then renamed over it). A build
// without zlib removes a `path` left by an earlier run instead, since a server would go on
// sending that stale copy, and says so.
Stop WriteGzipCopy(const std::string& path, std::string_view catalogue);

}  // namespace toval::catalog_tool
