#pragma once
// What the signed-catalogue tests share: a client with the updater under test and a lobby, a
// publisher's keys, nginx serving the release under /c/ with its catalogue, signed by
// toval-catalog or not.

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/UpdaterProcess.h"
#include "tests/support/Nginx.h"
#include "tests/support/TempDir.h"

namespace toval::test {

// Every regular file below `root` with its content, the updater itself and its state aside.
std::map<std::string, std::string> ClientContents(const std::string& root);

class SignedRelease : public ::testing::Test {
  protected:
    void SetUp() override;

    // Runs toval-catalog with `args`; the test fails when it does.
    void Tool(std::vector<std::string> args);
    // The client trusts these keys (none: unsigned mode).
    void Trust(const std::vector<std::string>& keys);
    // Publishes `files` as the server's release and its catalogue, signed by `key` (unsigned
    // when empty) with `serial`, `extra` given to toval-catalog first.
    void Publish(const std::map<std::string, std::string>& files, const std::string& key,
                 uint64_t serial = 100, const std::vector<std::string>& extra = {});
    // One run of the updater in the console against the published catalogue, with `options`.
    ProcessResult Update(const std::vector<std::string>& options = {});
    // Files fetched by the last update, the catalogue and its signature aside.
    std::vector<std::string> FilesFetched();

    TempDir Root;
    std::unique_ptr<Nginx> Web;
    std::string Updater;
    size_t Before = 0;
    int Published = 0;
};

}  // namespace toval::test
