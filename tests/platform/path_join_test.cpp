#include "platform/path_join.h"

#include <gtest/gtest.h>

namespace toval {
namespace {

TEST(JoinPath, OneSeparatorBetweenDirectoryAndName) {
    struct Row {
        std::string_view Dir, Name, Path;
    };
    const Row rows[] = {
        {"/opt/game", "toval-updater.pub", "/opt/game/toval-updater.pub"},
        {"/", ".toval-updater", "/.toval-updater"},
        {"/opt/game/", "a", "/opt/game/a"},
#ifdef _WIN32
        {"C:\\", "lobby.exe", "C:\\lobby.exe"},
#else
        // A backslash is part of the directory's name here, not a separator.
        {"/opt/game\\", "a", "/opt/game\\/a"},
#endif
    };
    for (const Row& row : rows) EXPECT_EQ(JoinPath(row.Dir, row.Name), row.Path) << row.Dir;
}

}  // namespace
}  // namespace toval
