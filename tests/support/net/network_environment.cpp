// Test programs that run transfers hold the network library for their whole run, as the
// application does; it is started here, before any test starts a thread.

#include <gtest/gtest.h>

#include <optional>

#include "net/network_library.h"

namespace toval::test {
namespace {

class NetworkEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { ASSERT_TRUE(Library->Started()); }
    // Before the leak check at exit: the network loop's thread ends, and with it what the TLS
    // library keeps for that thread.
    void TearDown() override { Library.reset(); }

  private:
    std::optional<NetworkLibrary> Library{std::in_place};
};

[[maybe_unused]] ::testing::Environment* const kNetwork =
    ::testing::AddGlobalTestEnvironment(new NetworkEnvironment);

}  // namespace
}  // namespace toval::test
