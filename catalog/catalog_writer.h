#pragma once
// Writes an update catalogue in the layout the updater reads: GB2312 declaration, tab-indented
// elements on lines of their own, CR LF line ends, text in code page 936.

#include <ctime>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/CFileEntry.h"

namespace toval {

struct CatalogProduct {
    std::string Name;
    std::string CreateDate;            // "YYYY-MM-DD hh:mm:ss", local time
    std::vector<std::string> Mirrors;  // origins, written as Mirror children of the Product
};

// "YYYY-MM-DD hh:mm:ss" of a broken-down time.
std::string FormatCreateDate(const std::tm& time);

// Writes the whole catalogue to `out`. On failure returns false and says why in `error`: a text
// that XML cannot carry, no code page 936 converter, or a stream that failed.
bool WriteCatalog(std::ostream& out, const CatalogProduct& product,
                  std::span<const CFileEntry* const> files, std::string& error);

}  // namespace toval
