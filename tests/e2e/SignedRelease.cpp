#include "tests/e2e/SignedRelease.h"

#include <chrono>
#include <filesystem>

namespace toval::test {

namespace fs = std::filesystem;

std::map<std::string, std::string> ClientContents(const std::string& root) {
    std::map<std::string, std::string> out;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
         ++it) {
        if (it->path().filename() == ".toval-updater") {
            it.disable_recursion_pending();
            continue;
        }
        const std::string rel = it->path().lexically_relative(root).string();
        if (it->is_regular_file() && rel != UpdaterFileName()) out[rel] = ReadFile(it->path());
    }
    return out;
}

void SignedRelease::SetUp() {
    for (const char* d : {"client", "server/c", "keys", "work"}) fs::create_directories(Root / d);
    Web = std::make_unique<Nginx>(Root / "server");
    ASSERT_TRUE(Web->Running()) << Web->Failure();
    Updater = InstallUpdater(Root / "client");
    InstallLobby(Root / "client");
    for (const char* key : {"main", "other", "next"})
        Tool({"--keygen", Root / ("keys/" + std::string(key))});
}

void SignedRelease::Tool(std::vector<std::string> args) {
    const ProcessResult r = RunProcess(std::string(TOVAL_BIN_DIR) + "/toval-catalog", args,
                                       {{"PATH", "/usr/bin:/bin"}}, Root / "work");
    ASSERT_EQ(r.ExitStatus, 0) << r.Err;
}

void SignedRelease::Trust(const std::vector<std::string>& keys) {
    std::string text;
    for (const std::string& k : keys) text += ReadFile(Root / ("keys/" + k + ".pub"));
    if (keys.empty()) {
        fs::remove(Root / "client/toval-updater.pub");
    } else {
        Root.Write("client/toval-updater.pub", text);
    }
}

void SignedRelease::Publish(const std::map<std::string, std::string>& files, const std::string& key,
                            uint64_t serial, const std::vector<std::string>& extra) {
    fs::remove_all(Root / "server/c");
    fs::remove(Root / "server/update.xml.minisig");
    for (const auto& [name, content] : files) Root.Write("server/c/" + name, content);
    std::vector<std::string> args = extra;
    if (!key.empty())
        args.insert(args.end(), {"--sign", Root / ("keys/" + key + ".key"), "--serial",
                                 std::to_string(serial)});
    args.insert(args.end(), {"-o", Root / "server/update.xml", Root / "server/c", Web->Url("c")});
    Tool(args);
    // A modification time of its own: nginx's validators count whole seconds, and the updater
    // keeps the last catalogue to ask whether it changed.
    fs::last_write_time(Root / "server/update.xml",
                        fs::file_time_type::clock::now() + std::chrono::seconds(++Published));
}

ProcessResult SignedRelease::Update(const std::vector<std::string>& options) {
    Before = Web->Requests().size();
    std::vector<std::string> args{"--console"};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(Web->Url("update.xml") + ",0");
    return RunProcess(Updater, args,
                      {{"PATH", (Root / "work") + ":/usr/bin:/bin"},
                       {"HOME", Root / "work"},
                       {"TMPDIR", Root / "work"},
                       {"DISPLAY", ""}},
                      Root / "work");
}

std::vector<std::string> SignedRelease::FilesFetched() {
    std::vector<std::string> all = Web->Requests(), out;
    for (size_t i = Before; i < all.size(); ++i)
        if (all[i].rfind("/c/", 0) == 0) out.push_back(all[i]);
    return out;
}

}  // namespace toval::test
