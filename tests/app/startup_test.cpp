// What the updater does when the network library will not start.

#include <gtest/gtest.h>

#include <cstdlib>

#include "app/CUpdaterApp.h"

namespace toval {
namespace {

TEST(Startup, ANetworkThatCannotStartIsAFailureNotANothingToDo) {
    // A fake, and the only one here: no real machine makes curl_global_init fail on demand.
    CUpdaterApp app;
    app.StartNetwork = [] { return false; };
    char program[] = "toval-updater";
    char console[] = "--console";
    char argument[] = "http://127.0.0.1:9/update.xml,0";
    char* argv[] = {program, console, argument, nullptr};
    ::testing::internal::CaptureStderr();
    const int status = app.Run(3, argv);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, 1);
    EXPECT_NE(err.find(CUpdaterApp::kSocketStartupFailed), std::string::npos) << err;
}

}  // namespace
}  // namespace toval
