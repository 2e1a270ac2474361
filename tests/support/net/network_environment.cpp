// Test programs that run transfers hold the network library for their whole run, as the
// application does; it is started here, before any test starts a thread.

#include <gtest/gtest.h>

#include "net/network_library.h"

namespace toval::test {
namespace {

class NetworkEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { ASSERT_TRUE(Library.Started()); }

  private:
    NetworkLibrary Library;
};

[[maybe_unused]] ::testing::Environment* const kNetwork =
    ::testing::AddGlobalTestEnvironment(new NetworkEnvironment);

}  // namespace
}  // namespace toval::test
