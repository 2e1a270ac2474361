#include "platform/pe_version.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/PeBuilder.h"
#include "tests/support/TempDir.h"

namespace toval {
namespace {

using test::MakePeImage;
using test::PeDefect;
using test::PeOptions;

std::span<const uint8_t> AsBytes(const std::string& s) {
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

PeOptions Versioned(bool pe64) {
    PeOptions o;
    o.Pe64 = pe64;
    o.FileVersion = {1, 2, 65535, 4};
    o.ProductVersion = {5, 0, 7, 8};
    return o;
}

class PeWidth : public ::testing::TestWithParam<bool> {};

TEST_P(PeWidth, ReadsBothVersionsFromBytesAndFromFile) {
    const std::string image = MakePeImage(Versioned(GetParam()));
    test::TempDir dir;
    const std::string path = dir.Write("a.dll", image);
    for (int from = 0; from < 2; ++from) {
        VS_FIXEDFILEINFO info;
        ASSERT_EQ(
            from == 0 ? ReadFixedFileInfo(AsBytes(image), info) : ReadFixedFileInfo(path, info), 0);
        EXPECT_EQ(info.dwSignature, VS_FFI_SIGNATURE);
        EXPECT_EQ(info.dwFileVersionMS, 0x00010002u);
        EXPECT_EQ(info.dwFileVersionLS, 0xFFFF0004u);
        EXPECT_EQ(info.dwProductVersionMS, 0x00050000u);
        EXPECT_EQ(info.dwProductVersionLS, 0x00070008u);
        EXPECT_EQ(info.dwFileOS, 0x40004u);
    }
}

TEST_P(PeWidth, EveryDefectFailsAndLeavesTheOutputAlone) {
    for (PeDefect defect : test::AllPeDefects()) {
        PeOptions o = Versioned(GetParam());
        o.Defect = defect;
        VS_FIXEDFILEINFO info;
        info.dwFileVersionMS = 0xDEAD;
        EXPECT_LT(ReadFixedFileInfo(AsBytes(MakePeImage(o)), info), 0) << PeDefectName(defect);
        EXPECT_EQ(info.dwFileVersionMS, 0xDEADu) << PeDefectName(defect);
    }
}

// Cutting a valid image anywhere gives either a clean failure or the true version, never garbage;
// without the resource section nothing can be read at all.
TEST_P(PeWidth, EveryPrefixFailsCleanlyOrReadsTheTruth) {
    const std::string image = MakePeImage(Versioned(GetParam()));
    for (std::size_t n = 0; n <= image.size(); ++n) {
        VS_FIXEDFILEINFO info;
        const int32_t status = ReadFixedFileInfo(AsBytes(image).first(n), info);
        if (n <= 0x200) {
            EXPECT_LT(status, 0) << n;
        }
        if (status == 0) {
            EXPECT_EQ(info.dwFileVersionLS, 0xFFFF0004u) << n;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Pe, PeWidth, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Pe64" : "Pe32"; });

TEST(PeVersion, NonImagesAreRefused) {
    test::TempDir dir;
    VS_FIXEDFILEINFO info;
    EXPECT_LT(ReadFixedFileInfo(dir / "missing.dll", info), 0);
    EXPECT_LT(ReadFixedFileInfo(dir.Path(), info), 0);
    EXPECT_LT(ReadFixedFileInfo(dir.Write("empty.dll", ""), info), 0);
    EXPECT_LT(ReadFixedFileInfo(dir.Write("text.dll", std::string(5000, 'M')), info), 0);
    // A FIFO would block an ordinary open until a writer came.
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0644), 0);
    EXPECT_LT(ReadFixedFileInfo(dir / "fifo", info), 0);
}

TEST(FdImageSource, ReadsExactRangesAcrossItsWindow) {
    std::string content(10000, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
    test::TempDir dir;
    const int fd = open(dir.Write("f", content).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    FdImageSource source(fd, content.size());
    struct Case {
        uint64_t offset;
        std::size_t size;
        bool ok;
    };
    const Case cases[] = {{0, 0, true},           {0, 16, true},
                          {4090, 12, true},       {100, 5000, true},
                          {9999, 1, true},        {10000, 0, true},
                          {10000, 1, false},      {9990, 11, false},
                          {UINT64_MAX, 1, false}, {UINT64_MAX - 1, 2, false},
                          {8, 16, true}};
    for (const Case& c : cases) {
        std::vector<char> got(c.size + 1, '\x7F');
        EXPECT_EQ(source.ReadAt(c.offset, got.data(), c.size), c.ok) << c.offset << "+" << c.size;
        if (c.ok) {
            EXPECT_EQ(std::string(got.data(), c.size), content.substr(c.offset, c.size));
        }
    }
    close(fd);
}

// Debian's mingw-w64 ships real Windows DLLs; read a few when they are installed.
TEST(PeVersion, RealMingwDllsReadOrFailCleanly) {
    std::vector<std::filesystem::path> dlls;
    for (const char* root : {"/usr/lib/gcc/x86_64-w64-mingw32", "/usr/x86_64-w64-mingw32"}) {
        std::error_code ec;
        for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
             !ec && it != std::filesystem::recursive_directory_iterator() && dlls.size() < 20;
             it.increment(ec))
            if (it->path().extension() == ".dll") dlls.push_back(it->path());
    }
    if (dlls.empty()) GTEST_SKIP() << "mingw-w64 is not installed";
    for (const auto& dll : dlls) {
        VS_FIXEDFILEINFO info;
        if (ReadFixedFileInfo(dll.string(), info) == 0) {
            EXPECT_EQ(info.dwSignature, VS_FFI_SIGNATURE) << dll;
        }
    }
}

}  // namespace
}  // namespace toval
