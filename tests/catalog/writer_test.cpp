// The catalogue writer: the exact bytes of the layout, and texts that must survive a write and a
// read unchanged or be refused.

#include <gtest/gtest.h>

#include <sstream>

#include "catalog/catalog_writer.h"
#include "tests/catalog/catalog_test_util.h"

namespace toval::test {
namespace {

std::string Write(const std::vector<const CFileEntry*>& files, const std::string& product = "T",
                  std::string* error = nullptr) {
    std::ostringstream out;
    std::string why;
    const bool ok = WriteCatalog(out, {product, "2024-02-03 04:05:06", {}}, files, why);
    if (error) *error = why;
    return ok ? out.str() : "FAILED";
}

TEST(CatalogWriter, WritesTheExactLayout) {
    CFileEntry e;
    e.FileName = "地图.dat";
    e.FileVersion = "1.0.0.12";
    e.ProductVersion = "2.0.0.0";
    e.Length = 5000000000u;
    e.FileDate = FILETIME{4000000000u, 30000000u};
    e.Execute = true;
    e.ExecutePar = "-a";
    e.LocalPath = "data\\maps";
    e.URL = "http://h/data/maps/x";
    const std::string expected =
        "<?xml version=\"1.0\" encoding=\"GB2312\" ?> \r\n"
        "<xmlRoot keyname=\"KeyValue\">\r\n"
        "\t<Product productname=\"T\" createdate=\"2024-02-03 04:05:06\" filenum=\"1\">\r\n"
        "\t\t<File>\r\n"
        "\t\t\t<FileName>\xB5\xD8\xCD\xBC.dat</FileName>\r\n"
        "\t\t\t<FileVersion>1.0.0.12</FileVersion>\r\n"
        "\t\t\t<ProductVersion>2.0.0.0</ProductVersion>\r\n"
        "\t\t\t<Length>5000000000</Length>\r\n"
        "\t\t\t<FileDateLow>4000000000</FileDateLow>\r\n"
        "\t\t\t<FileDateHigh>30000000</FileDateHigh>\r\n"
        "\t\t\t<InstallDir>CURRENTDIR</InstallDir>\r\n"
        "\t\t\t<Register>NO</Register>\r\n"
        "\t\t\t<ZipFile>NO</ZipFile>\r\n"
        "\t\t\t<ForceOverwrite>NO</ForceOverwrite>\r\n"
        "\t\t\t<Execute>YES</Execute>\r\n"
        "\t\t\t<ExecutePar>-a</ExecutePar>\r\n"
        "\t\t\t<LocalPath>data\\maps</LocalPath>\r\n"
        "\t\t\t<URL>http://h/data/maps/x</URL>\r\n"
        "\t\t\t<UserName></UserName>\r\n"
        "\t\t\t<Password></Password>\r\n"
        "\t\t</File>\r\n"
        "\t</Product>\r\n"
        "</xmlRoot>\r\n";
    EXPECT_EQ(Write({&e}), expected);

    // No files: the frame alone.
    EXPECT_EQ(Write({}, "Toval"),
              "<?xml version=\"1.0\" encoding=\"GB2312\" ?> \r\n<xmlRoot keyname=\"KeyValue\">\r\n"
              "\t<Product productname=\"Toval\" createdate=\"2024-02-03 04:05:06\" "
              "filenum=\"0\">\r\n\t</Product>\r\n</xmlRoot>\r\n");

    std::tm t{};
    t.tm_year = 99, t.tm_mon = 0, t.tm_mday = 2, t.tm_hour = 3, t.tm_min = 4, t.tm_sec = 5;
    EXPECT_EQ(FormatCreateDate(t), "1999-01-02 03:04:05");
}

TEST(CatalogWriter, TextsReadBackUnchanged) {
    CatalogueFixture f;
    CFileEntry e;
    // Markup, code page 936 only, beyond the basic plane, and two it lacks: À, which a best fit
    // would write as "A", and 한.
    e.FileName = "a&b<c>\"d\" 镕眾臺 😀À한à.dat";
    e.ExecutePar = " tab\there\nline\r\n ";
    e.Register = e.ZipFile = e.ForceOverwrite = true;
    e.InstallDir = "SYSTEMDIR";
    e.URL = "http://h/?a=1&b=2";
    e.UserName = "]]>";
    const std::string text = Write({&e, &e}, "产品 & <Co>");
    EXPECT_NE(text.find("&#x1F600;&#xC0;&#xD55C;\xA8\xA4.dat"), std::string::npos);
    ASSERT_TRUE(f.LoadText(text));
    ASSERT_EQ(f.Catalog.Count(), 2u);
    auto r = f.Catalog.TakeFirst();
    EXPECT_EQ(r->FileName, e.FileName);
    EXPECT_EQ(r->ExecutePar, e.ExecutePar);
    EXPECT_TRUE(r->Register && r->ZipFile && r->ForceOverwrite && !r->Execute);
    EXPECT_EQ(r->InstallDir, "SYSTEMDIR");
    EXPECT_EQ(r->URL, e.URL);
    EXPECT_EQ(r->UserName, e.UserName);
    EXPECT_EQ(r->FullPath, f.Temp / ("sys/" + e.FileName));
    // No hash, no element: a catalogue without hashes keeps the layout old readers know.
    EXPECT_EQ(text.find("Sha256"), std::string::npos);
    e.Sha256 = std::string(64, 'A');
    const std::string hashed = Write({&e});
    EXPECT_NE(hashed.find("<Password></Password>\r\n\t\t\t<Sha256>" + e.Sha256 + "</Sha256>\r\n"),
              std::string::npos);
    ASSERT_TRUE(f.LoadText(hashed));
    EXPECT_EQ(f.Catalog.TakeFirst()->Sha256, e.Sha256);
}

TEST(CatalogWriter, AnExecutableFileSaysSoLastAndOnlyThen) {
    CatalogueFixture f;
    CFileEntry program, data;
    program.FileName = "run.sh";
    program.Executable = true;
    program.Patches.push_back({std::string(64, 'b'), "p/1", 7});
    data.FileName = "data.pak";
    const std::string text = Write({&program, &data});
    EXPECT_NE(text.find("</Length></Patch>\r\n\t\t\t<Executable>YES</Executable>\r\n\t\t</File>"),
              std::string::npos);
    EXPECT_EQ(text.find("<Executable>"), text.rfind("<Executable>"));  // none for data.pak
    ASSERT_TRUE(f.LoadText(text));
    ASSERT_EQ(f.Catalog.Count(), 2u);
    auto r = f.Catalog.TakeFirst();
    EXPECT_TRUE(r->Executable);
    EXPECT_FALSE(r->Execute);
    EXPECT_EQ(r->Patches.size(), 1u);
    EXPECT_FALSE(f.Catalog.TakeFirst()->Executable);
}

TEST(CatalogWriter, RefusesTextsXmlCannotCarry) {
    const char* bad[] = {
        "a\x01"
        "b",
        "\xFF",
        "\xC0\xAF",
        "\xED\xA0\x80",
        "\xEF\xBF\xBF",
        "trunc\xE5\x9C"};
    for (const char* name : bad) {
        SCOPED_TRACE(name);
        CFileEntry e;
        e.FileName = name;
        std::string error;
        EXPECT_EQ(Write({&e}, "T", &error), "FAILED");
        EXPECT_NE(error.find("FileName"), std::string::npos) << error;
    }
}

}  // namespace
}  // namespace toval::test
