// Applying a patch writes the result through a mapping of its file and hashes it on the way;
// whatever goes wrong leaves no result behind, and never touches a file it may not replace.

#include "net/patch_apply.h"

#include <gtest/gtest.h>
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <string>

#include "platform/crypto.h"
#include "tests/support/TempDir.h"
#include "tests/support/Utf8Path.h"

namespace toval::test {
namespace {

// A patch as the publisher's tool makes one: `to` compressed with `from` as its prefix, its
// length and checksum in the frame.
std::string MakePatch(const std::string& from, const std::string& to) {
    const std::unique_ptr<ZSTD_CCtx, size_t (*)(ZSTD_CCtx*)> c(ZSTD_createCCtx(), ZSTD_freeCCtx);
    std::string out(ZSTD_compressBound(to.size()), '\0');
    if (!c || ZSTD_isError(ZSTD_CCtx_setParameter(c.get(), ZSTD_c_windowLog, 24)) ||
        ZSTD_isError(ZSTD_CCtx_setParameter(c.get(), ZSTD_c_checksumFlag, 1)) ||
        ZSTD_isError(ZSTD_CCtx_refPrefix(c.get(), from.data(), from.size())))
        return {};
    const size_t n = ZSTD_compress2(c.get(), out.data(), out.size(), to.data(), to.size());
    out.resize(ZSTD_isError(n) ? 0 : n);
    return out;
}

// Bytes that do not repeat, so that a patch can only take them from its source.
std::string Noise(size_t length, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(length, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
}

std::optional<Sha256Digest> DigestOf(const std::string& bytes) {
    Sha256 hash;
    hash.Update(bytes);
    return hash.Final();
}

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
