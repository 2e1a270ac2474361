// toval-catalog, run as the publisher runs it, and its catalogue read back by the updater's reader.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "catalog/minisign.h"
#include "tests/catalog/catalog_test_util.h"
#include "tests/support/ChildProgram.h"
#include "tests/support/PeBuilder.h"
#include "tests/support/Utf8Path.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace toval::test {
namespace {

using ToolRun = ProgramRun;

class CatalogTool : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(std::filesystem::exists(FromUtf8(Program)))
            << "build the toval-catalog target first";
    }

    ToolRun Run(std::vector<std::string> args) {
        args.insert(args.begin(), Program);
        return RunProgram(args);
    }

    // Loads `catalogue` with the client directory as the program directory.
    void Load(const std::string& catalogue) {
        Reader = std::make_unique<CUpdateCatalog>(BaseDirectories{Client.Path(), "/w", "/s"});
        InitXmlParser();
        ASSERT_TRUE(Reader->Load(catalogue));
    }

    std::vector<std::unique_ptr<CFileEntry>> TakeAll() {
        std::vector<std::unique_ptr<CFileEntry>> all;
        while (auto e = Reader->TakeFirst()) all.push_back(std::move(e));
        return all;
    }

    const std::string Program = BuiltProgram("toval-catalog");
    TempDir Client;
    TempDir Work;
    std::unique_ptr<CUpdateCatalog> Reader;
};

TEST_F(CatalogTool, RoundTripThroughTheReader) {
    PeOptions pe;
    pe.FileVersion = {1, 2, 3, 40000};
    pe.ProductVersion = {5, 0, 0, 65535};
    const std::string exe32 = MakePeImage(pe);
    pe.Pe64 = true;
    pe.FileVersion = {2, 0, 0, 12};
    // Each file with a time of its own, not on a second, to be found again in its entry.
    const std::map<std::string, std::pair<std::string, uint64_t>> made = {
        {"game.exe", {exe32, 133000000001234567u}},
        {"bin/x64/镕眾臺.dll", {MakePeImage(pe), 133000000101234567u}},
        {"地图/第一关/map 1#.dat", {std::string(70000, 'm'), 133000000201234567u}},
        {"empty", {"", 133000000301234567u}},
        {"Zeta", {"z", 133000000401234567u}},
    };
    for (const auto& [rel, file] : made) {
        ASSERT_TRUE(WriteFileAt(Client / rel, file.first)) << rel;
        ASSERT_TRUE(SetLastWriteTime(Client / rel, file.second)) << rel;
    }

    const std::string out = Work / "update.xml";
    const ToolRun run = Run({"-o", out, Client.Path(), "http://h.example/up/"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    Load(out);
    const auto all = TakeAll();
    // Byte order of the relative path: upper case before lower, ASCII before Chinese.
    const std::vector<std::string> rels = {"Zeta", "bin/x64/镕眾臺.dll", "empty", "game.exe",
                                           "地图/第一关/map 1#.dat"};
    ASSERT_EQ(all.size(), rels.size());
    for (std::size_t i = 0; i < rels.size(); ++i) {
        SCOPED_TRACE(rels[i]);
        const CFileEntry& e = *all[i];
        EXPECT_EQ(e.FullPath, Client / rels[i]);
        EXPECT_EQ(e.Length, made.at(rels[i]).first.size());
        EXPECT_EQ(FileTimeToU64(e.FileDate), made.at(rels[i]).second);
        EXPECT_EQ(e.InstallDir, "CURRENTDIR");
        EXPECT_FALSE(e.Register || e.Execute || e.ZipFile || e.ForceOverwrite);
    }
    EXPECT_EQ(all[3]->FileVersion, "1.2.3.40000");
    EXPECT_EQ(all[3]->ProductVersion, "5.0.0.65535");
    EXPECT_EQ(all[1]->FileVersion, "2.0.0.12");
    EXPECT_EQ(all[1]->LocalPath, "bin\\x64");
    EXPECT_EQ(all[4]->LocalPath, "地图\\第一关");
    EXPECT_EQ(all[2]->FileVersion, "");
    EXPECT_EQ(all[4]->URL,
              "http://h.example/up/%E5%9C%B0%E5%9B%BE/%E7%AC%AC%E4%B8%80%E5%85%B3/map%201%23.dat");

    // The files it describes are the files on disk: nothing to update.
    Load(out);
    EXPECT_EQ(Reader->RetainOutdated(), 0u);

    // Standard output carries the same catalogue.
    const ToolRun toStdout = Run({Client.Path(), "http://h.example/up"});
    ASSERT_EQ(toStdout.Status, 0) << toStdout.Err;
    const std::string written = ReadFile(out);
    const auto dateAt = written.find("createdate=");
    EXPECT_EQ(toStdout.Out.substr(0, dateAt), written.substr(0, dateAt));
    EXPECT_EQ(toStdout.Out.substr(dateAt + 33), written.substr(dateAt + 33));
}

TEST_F(CatalogTool, OptionsShapeTheEntries) {
    Client.Write("setup.exe", "s");
    Client.Write("com.dll", "c");
    Client.Write("sys/d3d/x.dll", "x");
    Client.Write("sys/y.dll", "y");
    Client.Write("win/one.ini", "w");
    Client.Write("logs/a.log", "l");
    Client.Write("logs.txt", "t");
    const ToolRun run =
        Run({"--product", "Toval 产品", "--execute", "setup.exe=/S /D=x", "--register=com.dll",
             "--install-dir", "sys=SYSTEMDIR", "--install-dir", "./win/one.ini=windowsdir",
             "--exclude", "logs/", "-o", Client / "update.xml", Client.Path(), "http://h"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_NE(ReadFile(Client / "update.xml").find("productname=\"Toval \xB2\xFA\xC6\xB7\""),
              std::string::npos);
    Load(Client / "update.xml");
    std::map<std::string, std::unique_ptr<CFileEntry>> byName;
    for (auto& e : TakeAll()) byName[e->FileName] = std::move(e);
    // logs/ is excluded, logs.txt is not; the catalogue does not list itself.
    ASSERT_EQ(byName.size(), 6u);
    EXPECT_TRUE(byName.count("logs.txt"));
    EXPECT_TRUE(byName["setup.exe"]->Execute);
    EXPECT_EQ(byName["setup.exe"]->ExecutePar, "/S /D=x");
    EXPECT_TRUE(byName["com.dll"]->Register);
    EXPECT_EQ(byName["x.dll"]->InstallDir, "SYSTEMDIR");
    EXPECT_EQ(byName["x.dll"]->LocalPath, "d3d");
    EXPECT_EQ(byName["x.dll"]->URL, "http://h/sys/d3d/x.dll");
    EXPECT_EQ(byName["y.dll"]->LocalPath, "");
    EXPECT_EQ(byName["one.ini"]->InstallDir, "WINDOWSDIR");
    EXPECT_EQ(byName["one.ini"]->LocalPath, "");
    EXPECT_EQ(byName["one.ini"]->FullPath, "/w/one.ini");
}

TEST_F(CatalogTool, LinksAndSpecialFiles) {
#ifdef _WIN32
    GTEST_SKIP() << "symbolic links and FIFOs in a client directory are Linux's";
#else
    Client.Write("real/a.dat", "aaaa");
    TempDir outside;
    outside.Write("b.dat", "bb");
    ASSERT_EQ(symlink((outside / "b.dat").c_str(), (Client / "b-link.dat").c_str()), 0);
    ASSERT_EQ(symlink((Client / "real").c_str(), (Client / "dir-link").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", (Client / "dangling").c_str()), 0);
    ASSERT_EQ(mkfifo((Client / "fifo").c_str(), 0600), 0);
    const ToolRun run = Run({"-o", Work / "c.xml", Client.Path(), "http://h"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    Load(Work / "c.xml");
    const auto all = TakeAll();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0]->FileName, "b-link.dat");  // a link to a file stands for the file
    EXPECT_EQ(all[0]->Length, 2u);
    EXPECT_EQ(all[1]->FullPath, Client / "real/a.dat");  // the directory link is not followed
#endif
}

TEST_F(CatalogTool, AnyExecuteBitMarksAFileExecutable) {
    using P = std::filesystem::perms;
    struct Case {
        const char* Name;
        P Perms;
        bool Executable;
    };
    const Case cases[] = {
        {"a-plain", P(0644), false}, {"b-owner", P(0744), true},     {"c-group", P(0654), true},
        {"d-others", P(0645), true}, {"e-game.exe", P(0600), false},
    };
    for (const Case& c : cases)
        std::filesystem::permissions(FromUtf8(Client.Write(c.Name, "x")), c.Perms);
    const ToolRun run = Run({"-o", Work / "c.xml", Client.Path(), "http://h"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    Load(Work / "c.xml");
    const auto all = TakeAll();
    ASSERT_EQ(all.size(), std::size(cases));
    for (std::size_t i = 0; i < all.size(); ++i) {
        SCOPED_TRACE(cases[i].Name);
#ifdef _WIN32
        // Files there have no such bits: nothing is marked, a program's name included.
        EXPECT_FALSE(all[i]->Executable);
#else
        EXPECT_EQ(all[i]->Executable, cases[i].Executable);
#endif
    }
}

// What it writes besides the catalogue: keys, the signature, patches; each replaced in place by
// the next run.
TEST_F(CatalogTool, SignsAndPatchesWhatItPublishes) {
    const std::string base = Work / "密钥";
    const ToolRun keygen = Run({"--keygen", base});
    ASSERT_EQ(keygen.Status, 0) << keygen.Err;
    EXPECT_NE(Run({"--keygen", base}).Err.find("exists"), std::string::npos);
    const auto keys = minisign::ParseTrustedKeys(ReadFileAt(base + ".pub"));
    ASSERT_TRUE(keys && keys->size() == 1);

    // An earlier version of a data file, and the new one with a few bytes changed.
    std::string before(200000, '\0');
    uint32_t seed = 1;
    for (char& c : before) c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 24);
    std::string after = before;
    after.replace(1000, 6, "CHANGE");
    TempDir old;
    ASSERT_TRUE(WriteFileAt(old / "数据/大.pak", before));
    ASSERT_TRUE(WriteFileAt(Client / "数据/大.pak", after));

    const std::string out = Work / "发布/update.xml";
    ASSERT_TRUE(WriteFileAt(out, "the catalogue before"));
    for (const std::string serial : {"7", "8"}) {
        SCOPED_TRACE(serial);
        const ToolRun run = Run({"--sign", base + ".key", "--serial", serial, "--previous",
                                 old.Path(), "-o", out, Client.Path(), "http://h"});
        ASSERT_EQ(run.Status, 0) << run.Err;
        const minisign::Verification v = minisign::VerifyCatalogueSignature(
            *keys, ReadFileAt(out), ReadFileAt(out + ".minisig"));
        ASSERT_EQ(v.Result, minisign::VerifyResult::Ok);
        EXPECT_NE(v.TrustedComment.find("serial:" + serial), std::string::npos);
        Load(out);
        const auto all = TakeAll();
        ASSERT_EQ(all.size(), 1u);
        ASSERT_EQ(all[0]->Patches.size(), 1u);
        const FilePatch& patch = all[0]->Patches[0];
        EXPECT_EQ(patch.URL.rfind("patches/", 0), 0u) << patch.URL;
        EXPECT_EQ(ReadFileAt(Work / ("发布/" + patch.URL)).size(), patch.Length);
        EXPECT_LT(patch.Length, 1000u);
    }
    // Nothing of the runs is left beside what they published.
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(FromUtf8(Work / "发布")))
        names.push_back(Utf8(entry.path().filename()));
    std::sort(names.begin(), names.end());
#ifdef _WIN32
    // (The Windows build writes no compressed copy.)
    EXPECT_EQ(names, (std::vector<std::string>{"patches", "update.xml", "update.xml.minisig"}));
#else
    EXPECT_EQ(names, (std::vector<std::string>{"patches", "update.xml", "update.xml.gz",
                                               "update.xml.minisig"}));
#endif
}

// A client directory the updater has run in holds its state at the top, never to be published;
// a folder of that name deeper down is the client's own.
TEST_F(CatalogTool, LeavesOutTheUpdatersStateDirectory) {
    Client.Write("game.bin", "g");
    Client.Write("data/.toval-updater/serials", "kept");  // not the updater's: deeper down
    for (const char* name : {"serials", "for", "catalogue.xml", "run.lock", "sub/x"})
        Client.Write(std::string(".toval-updater/") + name, "state");
    const ToolRun run = Run({"-o", Work / "c.xml", Client.Path(), "http://h"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Err, "");
    // Read as written: the updater's reader would drop such entries itself.
    const std::string xml = ReadFile(Work / "c.xml");
    EXPECT_EQ(xml.find("http://h/.toval-updater/"), std::string::npos) << xml;
    EXPECT_NE(xml.find("http://h/data/.toval-updater/serials"), std::string::npos) << xml;
    Load(Work / "c.xml");
    EXPECT_EQ(TakeAll().size(), 2u);
}

// The signature names the product and channel the catalogue is for.
TEST_F(CatalogTool, SignsWhatTheCatalogueIsFor) {
    Client.Write("a.dat", "a");
    ASSERT_EQ(Run({"--keygen", Work / "k"}).Status, 0);
    const auto keys = minisign::ParseTrustedKeys(ReadFileAt(Work / "k.pub"));
    ASSERT_TRUE(keys);
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{}, "for:Toval"},
        {{"--channel", "beta"}, "for:Toval/beta"},
        {{"--product", "Toval 产品", "--channel=公测"},
         "for:Toval%20%E4%BA%A7%E5%93%81/%E5%85%AC%E6%B5%8B"},
    };
    for (const auto& [options, word] : cases) {
        SCOPED_TRACE(word);
        std::vector<std::string> args = options;
        args.insert(args.end(),
                    {"--sign", Work / "k.key", "-o", Work / "c.xml", Client.Path(), "http://h"});
        const ToolRun run = Run(args);
        ASSERT_EQ(run.Status, 0) << run.Err;
        const minisign::Verification v = minisign::VerifyCatalogueSignature(
            *keys, ReadFileAt(Work / "c.xml"), ReadFileAt(Work / "c.xml.minisig"));
        ASSERT_EQ(v.Result, minisign::VerifyResult::Ok);
        const std::string comment = v.TrustedComment + "\t";
        EXPECT_NE(comment.find("\t" + word + "\t"), std::string::npos) << v.TrustedComment;
    }
    EXPECT_EQ(Run({"--channel", "beta", Client.Path(), "http://h"}).Status, 2);
}

TEST_F(CatalogTool, RefusesAClientHoldingANameOfTheUpdatersOwnFiles) {
    for (const std::string name :
         {"game.bin.update", "data/Game.bin.Toval-Patch", "x.dll.UPDATE-resume"}) {
        SCOPED_TRACE(name);
        TempDir client;
        ASSERT_TRUE(WriteFileAt(client / "game.bin", "g"));
        ASSERT_TRUE(WriteFileAt(client / name, "not the client's"));
        const std::string out = Work / "update.xml";
        const ToolRun run = Run({"-o", out, client.Path(), "http://h"});
        EXPECT_EQ(run.Status, 1);
        EXPECT_NE(run.Err.find("'" + name + "'"), std::string::npos) << run.Err;
        EXPECT_FALSE(std::filesystem::exists(FromUtf8(out)));
        EXPECT_EQ(Run({"--exclude", name, "-o", out, client.Path(), "http://h"}).Status, 0);
        std::filesystem::remove(FromUtf8(out));
    }
}

TEST_F(CatalogTool, ExitStatusesAndMessages) {
    Client.Write("a.dat", "a");
    struct Case {
        std::vector<std::string> Args;
        int Status;
        const char* Says;
    };
    const std::string dir = Client.Path();
    const Case cases[] = {
        {{"--help"}, 0, ""},
        {{}, 2, "expected CLIENT_DIR and BASE_URL"},
        {{dir}, 2, "expected CLIENT_DIR and BASE_URL"},
        {{"--bogus", dir, "http://h"}, 2, "unknown option '--bogus'"},
        {{dir, "ftp://h"}, 2, "http://"},
        {{"-o"}, 2, "-o needs a value"},
        {{"--install-dir", "a.dat=D:\\", dir, "http://h"}, 2, "is not CURRENTDIR"},
        {{"--install-dir", "a.dat", dir, "http://h"}, 2, "REL=MACRO"},
        {{"--execute", "../x", dir, "http://h"}, 2, "not a path inside"},
        {{"--register", "missing.dll", dir, "http://h"}, 2, "no file 'missing.dll'"},
        {{"--mirror", "http://m.example/files", dir, "http://h"}, 2, "is not an origin"},
        {{Work / "none", "http://h"}, 1, "not a directory"},
        {{"-o", Work / "no/such/dir/c.xml", dir, "http://h"}, 1, "cannot create"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Args.empty() ? "(none)" : c.Args[0]);
        const ToolRun run = Run(c.Args);
        EXPECT_EQ(run.Status, c.Status);
        EXPECT_NE(run.Err.find(c.Says), std::string::npos) << run.Err;
    }
    EXPECT_NE(Run({"--help"}).Out.find("Usage: toval-catalog"), std::string::npos);

    // The names below (a control character, a colon) cannot be made on Windows.
#ifndef _WIN32
    // A name the catalogue cannot carry stops the run and leaves no partial output behind.
    Client.Write("bad\x01name", "x");
    const ToolRun run = Run({"-o", Work / "c.xml", dir, "http://h"});
    EXPECT_EQ(run.Status, 1);
    EXPECT_NE(run.Err.find("--exclude"), std::string::npos) << run.Err;
    EXPECT_FALSE(std::filesystem::exists(Work / "c.xml"));
    EXPECT_EQ(Run({"--exclude", "bad\x01name", "-o", Work / "c.xml", dir, "http://h"}).Status, 0);

    // So does a name the updater would take for a drive.
    Client.Write("sub/c:x", "x");
    EXPECT_EQ(Run({"--exclude", "bad\x01name", "-o", Work / "d.xml", dir, "http://h"}).Status, 1);
#endif
}

}  // namespace
}  // namespace toval::test
