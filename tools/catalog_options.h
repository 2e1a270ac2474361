#pragma once
// The command line of toval-catalog and how a run of it stops.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace toval::catalog_tool {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// Why a run stops: the exit status and the message for stderr.
struct Stop {
    int Status = kExitOk;
    std::string Message;
};

inline Stop Usage(std::string message) { return Stop{kExitUsage, std::move(message)}; }
inline Stop Failed(std::string message) { return Stop{kExitFailure, std::move(message)}; }

struct Options {
    std::optional<std::string> Output;
    std::string Product = "Toval";
    std::optional<std::string> Channel;
    std::map<std::string, std::string> Execute;  // relative path -> parameters
    std::vector<std::string> Register;
    std::map<std::string, std::string> InstallDir;  // relative path -> macro
    std::vector<std::string> Exclude;
    std::vector<std::string> Mirrors;
    std::vector<std::string> Previous;
    std::optional<std::string> PatchDir;
    bool PrunePatches = false;
    std::string ClientDir;
    std::string BaseUrl;
    std::optional<std::string> SignKey;
    std::optional<uint64_t> Serial;
    uint64_t ExpiresDays = 30;
    std::optional<std::string> KeygenBase;
    // --check URL: look at a published release instead of writing one.
    std::optional<std::string> Check;
    std::optional<std::string> CheckKey;
    bool CheckFull = false;
};

// Below this an expiry is likely a slip: the catalogue stops working for players before the
// next publishing round comes.
constexpr uint64_t kShortExpiryDays = 7;

// Fills `options`; a Stop with status 0 and no message means go on.
Stop ParseOptions(const std::vector<std::string>& args, Options& options, bool& help,
                  bool& version);

}  // namespace toval::catalog_tool
