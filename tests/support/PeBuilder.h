#pragma once
// Writes small, valid PE32 and PE32+ images with a chosen file and product version (a resource
// section holding RT_VERSION -> ID 1 -> language 0x409 -> VS_VERSION_INFO), and broken variants of
// them for the reader's failure paths. Plain C++: benchmarks and tools may use it without gtest.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace toval::test {

enum class PeDefect {
    None,
    NotMz,                 // no "MZ" at the start
    BadPeSignature,        // e_lfanew points at something other than "PE\0\0"
    BadOptionalMagic,      // neither PE32 nor PE32+
    TruncatedHeaders,      // the file ends inside the optional header
    SectionTablePastEnd,   // the section table starts beyond the end of the file
    NoResourceDirectory,   // data directory 2 is empty
    NoVersionResource,     // resources, but only an icon type
    HugeEntryCounts,       // the root claims 65535 named and 65535 ID entries
    ResourceLoop,          // the name directory's entry points at that directory itself
    ResourceOutOfRange,    // a subdirectory offset far beyond the section
    VersionRvaOutOfRange,  // the data entry's RVA lies in no section
    ZeroSizeVersionBlock,  // the data entry and the block both have size 0
    BadKey,                // the block's key is not VS_VERSION_INFO
    ShortValue,            // wValueLength smaller than VS_FIXEDFILEINFO
    BadSignature,          // dwSignature is not 0xFEEF04BD
};

struct PeOptions {
    bool Pe64 = false;
    std::array<uint16_t, 4> FileVersion{1, 0, 0, 0};
    std::array<uint16_t, 4> ProductVersion{1, 0, 0, 0};
    PeDefect Defect = PeDefect::None;
    // Bytes appended after the image (an overlay), to give files of one version other lengths.
    std::size_t TrailingBytes = 0;
};

// Every defect except None, for table tests.
std::vector<PeDefect> AllPeDefects();
const char* PeDefectName(PeDefect defect);

std::string MakePeImage(const PeOptions& options = {});
// Writes the image to `path` (parent directories must exist); false when it cannot be written.
bool WritePeFile(const std::string& path, const PeOptions& options = {});

}  // namespace toval::test
