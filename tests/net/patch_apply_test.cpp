// Applying a patch writes the result through a mapping of its file and hashes it on the way;
// whatever goes wrong leaves no result behind, and never touches a file it may not replace.

#include "net/patch_apply.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "platform/crypto.h"
#include "tests/net/patch_test_util.h"
#include "tests/support/TempDir.h"
#include "tests/support/Utf8Path.h"

namespace toval::test {
namespace {

TEST(ApplyPatch, MakesTheNewFileOrLeavesNoResult) {
    TempDir dir;
    const std::string from = Noise(3 << 20, 7);
    std::string to = from;
    to.replace(1 << 20, 5000, std::string(5000, 'n'));
    to += "appended";
    const std::string patch = MakePatch(from, to);
    ASSERT_FALSE(patch.empty());
    std::string damaged = patch;
    damaged[damaged.size() / 2] ^= 0x55;
    const std::string otherSource = Noise(from.size(), 8);

    struct Case {
        const char* Name;
        std::string Source, Patch, Result;  // Result empty: none expected
        uint64_t Length;
        bool Replace = false;
        bool Sync = false;
        const char* Before = nullptr;  // already at the output path
    };
    const Case cases[] = {
        {"new file, synced", from, patch, to, to.size(), false, true},
        {"replaces a leftover", from, patch, to, to.size(), true, false, "leftover"},
        {"empty result", from, MakePatch(from, ""), "", 0, false, true},
        {"another writer's file stays", from, patch, "", to.size(), false, false, "theirs"},
        {"damaged", from, damaged, "", to.size()},
        {"cut short", from, patch.substr(0, patch.size() - 9), "", to.size()},
        {"bytes after the frame", from, patch + "x", "", to.size()},
        {"another length", from, patch, "", to.size() + 1},
        {"made from another source", otherSource, patch, "", to.size()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string out = dir / "新.dat.update";
        std::filesystem::remove(FromUtf8(out));
        if (c.Before) dir.Write("新.dat.update", c.Before);
        const PatchOutput target{out, c.Length, c.Replace, 0644, c.Sync};
        const std::optional<Sha256Digest> made =
            ApplyPatch(dir.Write("源.dat", c.Source), dir.Write("p.zst", c.Patch), target);
        const bool expected = !c.Result.empty() || c.Length == 0;
        EXPECT_EQ(made.has_value(), expected);
        if (expected) {
            EXPECT_EQ(made, DigestOf(c.Result));
            EXPECT_TRUE(ReadFile(out) == c.Result);
        } else if (c.Before && !c.Replace) {
            EXPECT_EQ(ReadFile(out), c.Before);
        } else {
            EXPECT_FALSE(std::filesystem::exists(FromUtf8(out)));
        }
    }
}

}  // namespace
}  // namespace toval::test
