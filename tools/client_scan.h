#pragma once
// What toval-catalog learns from the client directory: its files and their catalogue entries.

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/CFileEntry.h"
#include "tools/catalog_options.h"

namespace toval::catalog_tool {

// `rel` is `key` itself or lies below the directory `key`.
bool IsAtOrBelow(std::string_view rel, std::string_view key);

std::string PercentEncodePath(std::string_view rel);

// Relative paths of the regular files below `root`, in byte order.
Stop ListFiles(const std::filesystem::path& root, std::vector<std::string>& files);

Stop DescribeFile(const std::filesystem::path& root, const std::string& rel, const Options& options,
                  std::unique_ptr<CFileEntry>& entry);

// Every path an option names must match a catalogued file, so a typo cannot pass unnoticed.
Stop CheckOptionsMatch(const Options& options, const std::vector<std::string>& files);

}  // namespace toval::catalog_tool
