// Patch updates end to end: toval-catalog --previous makes the patches, nginx serves them beside
// the catalogue, and the real updater turns the player's old files into the new ones, or falls
// back to the whole file when a patch cannot serve, without the player seeing a difference.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <random>

#include "tests/e2e/UpdaterProcess.h"
#include "tests/support/Nginx.h"
#include "tests/support/PeBuilder.h"
#include "tests/support/TempDir.h"

namespace toval::test {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

void Overwrite(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

std::string Random(size_t bytes, uint32_t seed) {
    std::mt19937 generator(seed);
    std::string out(bytes, '\0');
    for (char& c : out) c = static_cast<char>(generator());
    return out;
}

class PatchE2E : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* d : {"home", "tmp", "v1", "www/files", "client", "work"})
            fs::create_directories(Root / d);
        // A program whose version and a few bytes of code changed.
        const std::string code = Random(96 << 10, 1);
        std::string newCode = code;
        for (size_t at : {1000u, 30000u, 70000u}) newCode[at] ^= 0x5A;
        Old["game.exe"] = MakePeImage({.FileVersion = {1, 0, 0, 1}}) + code;
        New["game.exe"] = MakePeImage({.FileVersion = {1, 0, 0, 2}}) + newCode;
        // A data pack with 4 KiB inserted near its start and 1 % of its blocks rewritten.
        const std::string pack = Random(4 << 20, 2);
        std::string changed = pack.substr(0, 64 << 10) + Random(4096, 3) + pack.substr(64 << 10);
        std::mt19937 pick(4);
        for (int i = 0; i < 10; ++i)
            changed.replace((pick() % (changed.size() / 4096)) * 4096, 4096, Random(4096, 5 + i));
        Old["data.pak"] = pack;
        New["data.pak"] = changed;
        for (const auto& [name, content] : Old) Root.Write("v1/" + name, content);
        for (const auto& [name, content] : New) Root.Write("www/files/" + name, content);
        Web = std::make_unique<Nginx>(Root / "www");
        ASSERT_TRUE(Web->Running()) << Web->Failure();
        const ProcessResult r =
            RunProcess(std::string(TOVAL_BIN_DIR) + "/toval-catalog",
                       {"--previous", Root / "v1", "-o", Root / "www/update.xml",
                        Root / "www/files", Web->Url("files")},
                       {{"PATH", "/usr/bin:/bin"}}, Root / "work");
        ASSERT_EQ(r.ExitStatus, 0) << r.Err;
        Updater = InstallUpdater(Root / "client");
    }

    ProcessResult Update() {
        for (const auto& [name, content] : Old) Root.Write("client/" + name, content);
        fs::remove_all(Root / "client/.toval-updater");
        return RunProcess(Updater, {"--console", Web->Url("update.xml") + ",0"},
                          UpdaterEnvironment(Root.Path()), Root / "work");
    }
    std::vector<std::string> Patches() {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(Root / "www/patches"))
            out.push_back(e.path().string());
        return out;
    }

    TempDir Root;
    std::string Updater;
    std::map<std::string, std::string> Old, New;
    std::unique_ptr<Nginx> Web;
};

TEST_F(PatchE2E, ChangedFilesArriveAsPatchesOrWholeWhenAPatchCannotServe) {
    // Both files changed little: each has its patch, much smaller than half of it.
    const std::vector<std::string> patches = Patches();
    ASSERT_EQ(patches.size(), 2u);
    for (const std::string& p : patches) EXPECT_LT(fs::file_size(p), 200u << 10) << p;
    const std::string catalogue = ReadFile(Root / "www/update.xml");
    EXPECT_THAT(catalogue, HasSubstr("<URL>patches/"));

    struct Scenario {
        const char* Name;
        std::function<void()> Before;
        bool PackWhole;  // data.pak comes whole, not as its patch
    };
    std::string pakPatch;
    for (const std::string& p : patches)
        if (fs::file_size(p) > 8192) pakPatch = p;  // the pack's is the larger one
    ASSERT_FALSE(pakPatch.empty());
    const std::string goodPatch = ReadFile(pakPatch);
    const Scenario scenarios[] = {
        {"patched", [] {}, false},
        {"edited by the player", [&] { Old["data.pak"][100] ^= 1; }, true},
        {"damaged patch", [&] { Overwrite(pakPatch, std::string(goodPatch.size(), 'x')); }, true},
        {"patch of another length", [&] { Overwrite(pakPatch, goodPatch + "more"); }, true},
    };
    for (const Scenario& s : scenarios) {
        SCOPED_TRACE(s.Name);
        const std::string oldPack = Old["data.pak"];
        s.Before();
        const size_t logged = Web->Requests().size();
        const ProcessResult r = Update();
        Old["data.pak"] = oldPack;
        Overwrite(pakPatch, goodPatch);
        ASSERT_EQ(r.ExitStatus, 0) << r.Err;
        // The player sees what a whole-file update shows.
        EXPECT_THAT(Lines(r.Out), ElementsAre("正在连接：Toval更新服务器",
                                              "获取更新文件列表成功：Toval更新服务器",
                                              "需更新文件总数: 2, 文件总长度: 4197 KB", "data.pak",
                                              "下载文件成功 [data.pak]", "game.exe",
                                              "下载文件成功 [game.exe]", "更新完毕"));
        for (const auto& [name, content] : New)
            EXPECT_TRUE(ReadFile(Root / ("client/" + name)) == content) << name;
        std::vector<std::string> requests = Web->Requests();
        requests.erase(requests.begin(), requests.begin() + static_cast<long>(logged));
        EXPECT_THAT(requests, Not(Contains("/files/game.exe 200")));
        if (s.PackWhole) {
            EXPECT_THAT(requests, Contains("/files/data.pak 200"));
        } else {
            EXPECT_THAT(requests, Not(Contains("/files/data.pak 200")));
        }
        for (const auto& e : fs::directory_iterator(Root / "client"))
            EXPECT_THAT(e.path().filename().string(), Not(HasSubstr(".toval-patch")));
    }
}

}  // namespace
}  // namespace toval::test
