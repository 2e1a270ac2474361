#pragma once
// Helpers shared by the catalogue tests: a catalogue text around some File elements, a
// catalogue whose base directories live in a temporary directory, and the few file operations
// the tests need on both systems.

#include <cstdint>
#include <string>

#include "catalog/CUpdateCatalog.h"
#include "catalog/xml_startup.h"
#include "tests/support/TempDir.h"

namespace toval::test {

// A GB2312-declared catalogue holding `files` inside xmlRoot/Product.
inline std::string CatalogueText(const std::string& files) {
    return "<?xml version=\"1.0\" encoding=\"GB2312\" ?> \r\n<xmlRoot keyname=\"KeyValue\">\r\n"
           "\t<Product productname=\"T\" createdate=\"2024-01-01 00:00:00\" filenum=\"1\">\r\n" +
           files + "\t</Product>\r\n</xmlRoot>\r\n";
}

// Writes `content` to the file at the UTF-8 `path`, creating its parent directories; false when
// it cannot. (Names beyond ASCII need this on Windows, where narrow paths are the ANSI code page.)
bool WriteFileAt(const std::string& path, const std::string& content);
// The bytes of the file at the UTF-8 `path`; empty when it cannot be read.
std::string ReadFileAt(const std::string& path);

// Sets the file's last-write time to the FILETIME `fileTime`, to the 100-ns tick.
bool SetLastWriteTime(const std::string& path, uint64_t fileTime);

// The most memory the process has held in RAM so far, in KiB.
long PeakMemoryKiB();

struct CatalogueFixture {
    CatalogueFixture() : Catalog(Dirs()) { InitXmlParser(); }

    BaseDirectories Dirs() const { return {Temp / "prog", Temp / "win", Temp / "sys"}; }

    // Writes `text` as a catalogue file and loads it.
    bool LoadText(const std::string& text) { return Catalog.Load(Temp.Write("cat.xml", text)); }

    TempDir Temp;
    CUpdateCatalog Catalog;
};

}  // namespace toval::test
