#pragma once
// One downloader at a time against the scripted test server, its file in a directory of its own
// and its messages drained the way the run handles them.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "tests/net/Fetcher.h"
#include "tests/net/RecordingSink.h"
#include "tests/support/HttpServer.h"
#include "tests/support/TempDir.h"
#include "tests/support/Utf8Path.h"

namespace toval::test {

// The error text a transfer holds before anything went wrong, and keeps for the failures whose
// codes leave it alone.
inline const std::string kInitialText = "连接服务器失败, 请检查网络或联系客服人员";

inline std::optional<std::string> ReadFileIfAny(const std::string& path) {
    if (!std::filesystem::exists(FromUtf8(path))) return std::nullopt;
    return ReadFile(path);
}

class CInetFileTest : public ::testing::Test {
  protected:
    std::unique_ptr<Fetcher> Make(const std::string& url, int32_t kind = 1,
                                  const std::string& name = "out.bin") {
        auto t = std::make_unique<Fetcher>();
        t->Req.URL = url;
        t->Req.Kind = kind;
        t->Req.Writes = kind == 1 ? BodyTarget::Path : BodyTarget::UpdateFile;
        t->Req.TargetPath = Dir / name;
        t->Sink = &Sink;
        return t;
    }

    // Starts the transfer, handles its messages like the run would, and joins it.
    DrainedTransfer Fetch(Fetcher& t) {
        const DrainedTransfer d = FetchToEnd(t, Sink);
        EXPECT_EQ(Sink.Pending(), 0u) << "messages after the completion";
        return d;
    }

    TempDir Dir;
    HttpServer Server;
    RecordingSink Sink;
};

}  // namespace toval::test
