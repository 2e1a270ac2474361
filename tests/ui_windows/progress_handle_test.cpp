// The progress stream on Windows, as a launcher passes it: the write end of an anonymous pipe,
// inherited by the real toval-updater.exe and named by its handle's value. The launcher reads to
// the end of the stream, which comes when the updater ends.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/wide_text.h"
#include "tests/support/HttpServer.h"
#include "tests/support/TempDir.h"

namespace toval {
namespace {

TEST(ProgressHandle, TheLauncherReadsWholeLinesToTheOutcome) {
    test::HttpServer server;
    server.Route("/update.xml", test::Response{.Status = 404, .Body = "gone"});
    test::TempDir client;
    const std::string program = client / "toval-updater.exe";
    std::filesystem::copy_file(std::string(TOVAL_BIN_DIR) + "/toval-updater.exe", program);

    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    ASSERT_TRUE(CreatePipe(&read, &write, &inherit, 0));
    SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    std::wstring command = L"\"" + Widen(program) + L"\" --console --progress-fd " +
                           std::to_wstring(reinterpret_cast<uintptr_t>(write)) + L" " +
                           Widen(server.Url("/update.xml")) + L",0";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                               &startup, &child));
    CloseHandle(write);

    std::string stream;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(read, buffer, sizeof buffer, &got, nullptr) && got > 0)
        stream.append(buffer, got);
    CloseHandle(read);
    ASSERT_EQ(WaitForSingleObject(child.hProcess, 60'000), WAIT_OBJECT_0);
    DWORD status = 99;
    GetExitCodeProcess(child.hProcess, &status);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);

    EXPECT_EQ(status, 1u);
    ASSERT_FALSE(stream.empty());
    EXPECT_EQ(stream.back(), '\n');
    const std::string last = stream.substr(stream.rfind('\n', stream.size() - 2) + 1);
    EXPECT_EQ(last.rfind("{\"event\":\"end\"", 0), 0u) << stream;
    EXPECT_NE(last.find("\"outcome\":\"failed\",\"exit_status\":1"), std::string::npos) << stream;
}

}  // namespace
}  // namespace toval
