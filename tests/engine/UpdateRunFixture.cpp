#include "tests/engine/UpdateRunFixture.h"

#ifdef _WIN32
#include "tests/support/ChildProgram.h"
#endif

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "tests/support/Utf8Path.h"

namespace toval::test {

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
void SetEnvironment(const char* name, const std::string& value) { _putenv_s(name, value.c_str()); }
// GetTempPathW reads TMP first.
constexpr const char* kTempVariable = "TMP";
#else
void SetEnvironment(const char* name, const std::string& value) {
    if (value.empty()) {
        unsetenv(name);
    } else {
        setenv(name, value.c_str(), 1);
    }
}
constexpr const char* kTempVariable = "TMPDIR";
#endif

}  // namespace

#ifdef _WIN32
std::vector<std::string> UpdateRunTest::WebServer::Requests() const {
    std::vector<std::string> out;
    for (const Request& r : Server.Requests())
        out.push_back(r.Target + " " + std::to_string(r.Status));
    return out;
}
#endif

std::string UpdateRunTest::Catalogue(const std::vector<File>& files, const WebServer& web) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<xmlRoot><Product>\n";
    for (const File& f : files) {
        xml += "<File><FileName>" + f.Name +
               "</FileName><FileVersion></FileVersion>"
               "<ProductVersion></ProductVersion><Length>" +
               std::to_string(f.Content.size()) +
               "</Length><FileDateLow>0</FileDateLow><FileDateHigh>0</FileDateHigh>"
               "<InstallDir>CURRENTDIR</InstallDir><LocalPath>" +
               f.Dir + "</LocalPath><URL>" + web.Url("files/" + f.Name) + "</URL></File>\n";
    }
    return xml + "</Product></xmlRoot>\n";
}

int UpdateRunTest::CountTempCatalogues(const std::string& dir) {
    int n = 0;
    for (const auto& e : fs::directory_iterator(FromUtf8(dir)))
        if (Utf8(e.path().filename()).rfind("Xml", 0) == 0) ++n;
    return n;
}

void UpdateRunTest::SetUp() {
    Web = std::make_unique<WebServer>(Server.Path());
    ASSERT_TRUE(Web->Running()) << Web->Failure();
    fs::create_directories(FromUtf8(Tmp.Path()));
    SavedTmp = std::getenv(kTempVariable) ? std::getenv(kTempVariable) : "";
    SetEnvironment(kTempVariable, Tmp.Path());
    SavedCwd = fs::current_path();
    // The lobby is looked for in the current directory (nothing of the kind stands beside
    // the test program); it writes its arguments to lobby.txt beside itself.
#ifdef _WIN32
    fs::copy_file(FromUtf8(BuiltProgram("toval-record-arguments")), FromUtf8(Work / "lobby.exe"));
#else
    Work.Write("lobby.exe", "#!/bin/sh\necho \"$@\" > " + (Work / "lobby.txt") + "\n");
    fs::permissions(Work / "lobby.exe", fs::perms::owner_all);
#endif
    fs::current_path(FromUtf8(Work.Path()));
}

void UpdateRunTest::TearDown() {
    // A SetUp that stopped early (no web server) changed neither the directory nor the
    // variable; restoring an empty directory would throw and bury its failure under another.
    if (SavedCwd.empty()) return;
    fs::current_path(SavedCwd);
    SetEnvironment(kTempVariable, SavedTmp);
}

void UpdateRunTest::Publish(const std::vector<File>& files) {
    for (const File& f : files) {
        if (f.OnServer) Server.Write("files/" + f.Name, f.Content);
        if (f.CurrentLocally) Client.Write(f.Name, f.Content);
    }
    WriteCatalogue(Catalogue(files, *Web));
}

void UpdateRunTest::WriteCatalogue(const std::string& xml) {
    const std::string path = Server.Write("update.xml", xml);
    fs::last_write_time(path, fs::file_time_type::clock::now() + std::chrono::seconds(++Serial));
}

std::unique_ptr<CUpdateRun> UpdateRunTest::MakeRun(uint32_t caller) {
    auto run = std::make_unique<CUpdateRun>(
        *Host, BaseDirectories{Client.Path(), Client / "windows", Client / "system32"},
        SystemClock(), RealPrograms ? SystemPrograms() : Programs);
    run->SetCallerWindow(caller);
    return run;
}

void UpdateRunTest::Drive(CUpdateRun& run, const std::string& path, bool ticks) {
    run.StartRun(Web->Url(path));
    run.OnTimer(WM_TIMER_REPAINT);
    ASSERT_TRUE(Host->RunUntilQuit(run, ticks));
}

std::vector<std::string> UpdateRunTest::FilesRequested() {
    std::vector<std::string> out;
    for (const std::string& r : Web->Requests())
        if (r.rfind("/files/", 0) == 0) out.push_back(r);
    return out;
}

bool UpdateRunTest::LobbyStayedAway() {
    return std::count(Programs.Started.begin(), Programs.Started.end(), "lobby") == 0;
}

}  // namespace toval::test
