// Feeds arbitrary bytes to the catalogue reader, with the options the updater parses with. Every
// record that comes out must also survive the writer: written, read again, it is the same record.

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <sstream>
#include <string_view>
#include <vector>

#include "catalog/XmlReader.h"
#include "catalog/catalog_reader.h"
#include "catalog/catalog_writer.h"
#include "catalog/xml_startup.h"

namespace {

const toval::BaseDirectories kDirs{"/p", "/w", "/s"};

bool Same(const toval::CFileEntry& a, const toval::CFileEntry& b) {
    return a.FileName == b.FileName && a.FileVersion == b.FileVersion &&
           a.ProductVersion == b.ProductVersion && a.Length == b.Length &&
           toval::FileTimeToU64(a.FileDate) == toval::FileTimeToU64(b.FileDate) &&
           a.InstallDir == b.InstallDir && a.Register == b.Register && a.ZipFile == b.ZipFile &&
           a.ForceOverwrite == b.ForceOverwrite && a.Execute == b.Execute &&
           a.ExecutePar == b.ExecutePar && a.LocalPath == b.LocalPath && a.URL == b.URL &&
           a.UserName == b.UserName && a.Password == b.Password && a.FullPath == b.FullPath;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!toval::InitXmlParser()) __builtin_trap();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    toval::XmlReader reader;
    std::list<std::unique_ptr<toval::CFileEntry>> entries;
    if (!reader.OpenMemory({reinterpret_cast<const char*>(data), size}) ||
        !toval::ReadCatalogEntries(reader, kDirs, entries)) {
        return 0;
    }

    std::vector<const toval::CFileEntry*> files;
    for (const auto& e : entries) files.push_back(e.get());
    std::ostringstream out;
    std::string error;
    if (!toval::WriteCatalog(out, {"fuzz", "2024-01-01 00:00:00"}, files, error)) __builtin_trap();
    const std::string written = out.str();
    toval::XmlReader again;
    std::list<std::unique_ptr<toval::CFileEntry>> reread;
    if (!again.OpenMemory(written) || !toval::ReadCatalogEntries(again, kDirs, reread)) {
        __builtin_trap();
    }
    if (reread.size() != entries.size()) __builtin_trap();
    auto it = reread.begin();
    for (const auto& e : entries) {
        if (!Same(*e, **it++)) __builtin_trap();
    }
    return 0;
}
