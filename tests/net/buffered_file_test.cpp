// The download's local file: what is read back of it (to hash a continued start) never moves
// where the next bytes go, and a continued file keeps exactly the bytes it is continued after.

#include "net/BufferedFile.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/HttpServer.h"
#include "tests/support/TempDir.h"

namespace toval::test {
namespace {

constexpr size_t kCapacity = 64 << 10;

TEST(BufferedFile, ReadingBackNeverMovesTheNextWrite) {
    TempDir dir;
    const std::string body = GeneratedBody(5 * kCapacity);
    const std::string earlier = "an earlier run's start|and its rest";
    const std::string path = dir.Write("f.update", earlier);
    BufferedFile file(kCapacity);
    ASSERT_FALSE(file.Continue(path, 1000));  // holds fewer bytes
    ASSERT_TRUE(file.Continue(path, 22));
    std::string start;
    EXPECT_EQ(file.ReadBack(10, [&](const char* d, size_t n) { start.append(d, n); }), 10u);
    EXPECT_EQ(start, "an earlier");
    // Small pieces go through the buffer, large ones straight to the file; a read back between
    // them flushes the buffer and reads from the start.
    for (size_t at = 0; at < body.size();) {
        const size_t n = at % 3 == 0 ? kCapacity / 2 : 1000;
        ASSERT_TRUE(file.Append(body.data() + at, std::min(n, body.size() - at)));
        at += n;
        EXPECT_EQ(file.ReadBack(5, [](const char*, size_t) {}), 5u);
    }
    ASSERT_TRUE(file.HashWhileWriting());
    ASSERT_TRUE(file.Append(body.data(), kCapacity));
    EXPECT_TRUE(file.FinishHash().has_value());
    EXPECT_TRUE(file.Close());
    EXPECT_TRUE(ReadFile(path) == earlier.substr(0, 22) + body + body.substr(0, kCapacity));
}

// The hash of what was written, taken from the written buffers after the continued start read
// back: pieces smaller than, as large as and larger than the buffer, more of them than the blocks
// the hash keeps in circulation.
TEST(BufferedFile, TheTrailingHashIsOfExactlyTheFileWritten) {
    TempDir dir;
    const std::string body = GeneratedBody(40 * kCapacity);
    const std::string path = dir.Write("f.update", "a continued start, then a cut");
    BufferedFile file(kCapacity);
    ASSERT_TRUE(file.Continue(path, 18));
    ASSERT_TRUE(file.HashWhileWriting());
    const size_t pieces[] = {1, 1000, kCapacity / 2, kCapacity, kCapacity + 7, 3 * kCapacity};
    for (size_t at = 0, i = 0; at < body.size(); ++i) {
        const size_t n = std::min(pieces[i % std::size(pieces)], body.size() - at);
        ASSERT_TRUE(file.Append(body.data() + at, n));
        at += n;
    }
    const std::optional<Sha256Digest> digest = file.FinishHash();
    ASSERT_TRUE(file.Close());
    const std::string written = ReadFile(path);
    ASSERT_TRUE(written == "a continued start," + body);
    Sha256 whole;
    whole.Update(written.data(), written.size());
    EXPECT_EQ(digest, whole.Final());
}

}  // namespace
}  // namespace toval::test
