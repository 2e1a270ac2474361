#pragma once
// Helpers shared by the catalogue tests: a catalogue text around some File elements, and a
// catalogue whose base directories live in a temporary directory.

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

struct CatalogueFixture {
    CatalogueFixture() : Catalog(Dirs()) { InitXmlParser(); }

    BaseDirectories Dirs() const { return {Temp / "prog", Temp / "win", Temp / "sys"}; }

    // Writes `text` as a catalogue file and loads it.
    bool LoadText(const std::string& text) { return Catalog.Load(Temp.Write("cat.xml", text)); }

    TempDir Temp;
    CUpdateCatalog Catalog;
};

}  // namespace toval::test
