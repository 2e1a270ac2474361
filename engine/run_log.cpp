#include "engine/run_log.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <vector>

#include "platform/path_join.h"
#include "platform/process.h"
#include "platform/text.h"
#include "platform/utf8_path.h"

namespace toval {

namespace {
constexpr std::string_view kLogPrefix = "run-";
constexpr std::string_view kLogSuffix = ".log";
constexpr std::string_view kCutLine = "(the log stops here: it reached its size limit)";

// Removes the oldest logs so that, with the one about to be made, kLogsKept remain. Names carry
// the start time, so their order is their age.
void RemoveOldLogs(const std::filesystem::path& dir) {
    std::vector<std::filesystem::path> logs;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
        const std::string name = Utf8OfPath(entry.path().filename());
        if (name.starts_with(kLogPrefix) && name.ends_with(kLogSuffix))
            logs.push_back(entry.path());
    }
    std::sort(logs.begin(), logs.end());
    while (logs.size() >= kLogsKept) {
        std::filesystem::remove(logs.front(), error);
        logs.erase(logs.begin());
    }
}

std::string LocalTime(const char* format) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    char text[64] = {};
    std::strftime(text, sizeof text, format, &local);
    return text;
}
}  // namespace

std::unique_ptr<RunLog> RunLog::Open(const std::string& stateDir) {
    const std::string dir = JoinPath(stateDir, "log");
    std::error_code error;
    std::filesystem::create_directories(PathOfUtf8(dir), error);
    RemoveOldLogs(PathOfUtf8(dir));
    // The second and the process keep two runs started at once apart.
    const std::string path =
        JoinPath(dir, std::string(kLogPrefix) + LocalTime("%Y%m%d-%H%M%S-") +
                          std::to_string(CurrentProcessId()) + std::string(kLogSuffix));
#ifdef _WIN32
    std::FILE* file = _wfopen(PathOfUtf8(path).c_str(), L"wbN");
#else
    std::FILE* file = std::fopen(path.c_str(), "wbe");
#endif
    if (!file) return nullptr;
    auto log = std::unique_ptr<RunLog>(new RunLog(file, path));
    log->Line("started " + LocalTime("%Y-%m-%d %H:%M:%S %z"));
    return log;
}

RunLog::RunLog(std::FILE* file, std::string path) : File(file), FilePath(std::move(path)) {}

RunLog::~RunLog() { std::fclose(File); }

void RunLog::Line(std::string_view text) {
    if (Cut) return;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - Began)
                        .count();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%7lld.%03lld ", static_cast<long long>(ms / 1000),
                  static_cast<long long>(ms % 1000));
    std::string line = stamp + Printable(text, ControlStyle::HexEscape) + "\n";
    if (Written + line.size() + kCutLine.size() + sizeof stamp + 1 > kLogLimit) {
        line = stamp + std::string(kCutLine) + "\n";
        Cut = true;
    }
    Written += std::fwrite(line.data(), 1, line.size(), File);
    // Each line reaches the file at once: a run that is killed, or the process that ends by
    // _Exit, still leaves everything before it.
    std::fflush(File);
}

std::string WithoutCredentials(std::string_view url) {
    const size_t scheme = url.find("://");
    if (scheme == std::string_view::npos) return std::string(url);
    const size_t start = scheme + 3;
    const size_t end = std::min(url.find_first_of("/?#", start), url.size());
    const size_t at = url.substr(start, end - start).rfind('@');
    if (at == std::string_view::npos) return std::string(url);
    return std::string(url.substr(0, start)) + std::string(url.substr(start + at + 1));
}

void LoggedPrograms::Execute(const std::string& path, const std::string& parameters,
                             StartMark* mark) {
    if (Log) Log->Line("start " + path + (parameters.empty() ? "" : " " + parameters));
    Inner.Execute(path, parameters, mark);
}

void LoggedPrograms::Register(const std::string& path, StartMark* mark) {
    if (Log) Log->Line("register " + path);
    Inner.Register(path, mark);
}

void LoggedPrograms::StartLobby() {
    if (Log) Log->Line("start the lobby");
    Inner.StartLobby();
}

}  // namespace toval
