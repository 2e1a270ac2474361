#include "platform/pe_version.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/status.h"

namespace toval {

namespace {

// The Windows error codes the loader gives for the same faults; callers only test the sign.
constexpr int32_t kErrorResourceDataNotFound = 1812;
constexpr int32_t kErrorResourceTypeNotFound = 1813;
constexpr int32_t kErrorResourceNameNotFound = 1814;
constexpr int32_t kErrorResourceLangNotFound = 1815;

constexpr uint16_t kDosMagic = 0x5A4D;  // "MZ"
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr uint32_t kResourceDirectoryIndex = 2;
constexpr uint32_t kRtVersion = 16;
constexpr uint32_t kHighBit = 0x80000000u;
constexpr uint64_t kSectionHeaderSize = 40;
constexpr uint64_t kResourceDirectorySize = 16;
constexpr uint64_t kResourceEntrySize = 8;

// wLength, wValueLength, wType, L"VS_VERSION_INFO\0", padding to 4 bytes, then the value.
constexpr char16_t kVersionKey[] = u"VS_VERSION_INFO";
constexpr std::size_t kVersionKeyOffset = 6;
constexpr std::size_t kFixedInfoOffset = 40;
constexpr std::size_t kVersionHeadSize = kFixedInfoOffset + sizeof(VS_FIXEDFILEINFO);

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

uint32_t Le32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

class SpanImageSource : public ImageSource {
  public:
    explicit SpanImageSource(std::span<const uint8_t> bytes) : Bytes(bytes) {}
    bool ReadAt(uint64_t offset, void* buffer, std::size_t size) override {
        if (offset > Bytes.size() || size > Bytes.size() - offset) return false;
        if (size) std::memcpy(buffer, Bytes.data() + offset, size);
        return true;
    }
    uint64_t Size() const override { return Bytes.size(); }

  private:
    std::span<const uint8_t> Bytes;
};

// Walks one image. Offsets are kept in 64 bits, so no sum of 32-bit fields from the file can wrap.
class PeWalker {
  public:
    explicit PeWalker(ImageSource& image) : Image(image) {}

    int32_t Read(VS_FIXEDFILEINFO& out) {
        uint8_t dos[64];
        if (!Read(0, dos, sizeof dos) || Le16(dos) != kDosMagic) return Fail(kErrorBadExeFormat);
        const uint64_t pe = Le32(dos + 0x3C);

        // "PE\0\0" and the file header.
        uint8_t head[24];
        if (!Read(pe, head, sizeof head) || std::memcmp(head, "PE\0\0", 4) != 0)
            return Fail(kErrorBadExeFormat);
        SectionCount = Le16(head + 6);
        const uint16_t optionalSize = Le16(head + 20);
        const uint64_t optional = pe + sizeof head;

        uint8_t magic[2];
        if (!Read(optional, magic, sizeof magic)) return Fail(kErrorBadExeFormat);
        uint64_t countAt = 0;
        uint64_t directoriesAt = 0;
        switch (Le16(magic)) {
            case kPe32Magic:
                countAt = 92;
                directoriesAt = 96;
                break;
            case kPe32PlusMagic:
                countAt = 108;
                directoriesAt = 112;
                break;
            default:
                return Fail(kErrorBadExeFormat);
        }
        const uint64_t resourceSlot = directoriesAt + kResourceDirectoryIndex * 8;
        if (optionalSize < resourceSlot + 8) return Fail(kErrorResourceTypeNotFound);

        // The section table must be wholly present, as the loader demands.
        SectionTable = optional + optionalSize;
        if (SectionCount == 0 || SectionTable > Image.Size() ||
            SectionCount * kSectionHeaderSize > Image.Size() - SectionTable)
            return Fail(kErrorBadExeFormat);

        uint8_t field[8];
        if (!Read(optional + countAt, field, 4)) return Fail(kErrorBadExeFormat);
        if (Le32(field) <= kResourceDirectoryIndex) return Fail(kErrorResourceTypeNotFound);
        if (!Read(optional + resourceSlot, field, 8)) return Fail(kErrorBadExeFormat);
        const uint32_t resourceRva = Le32(field);
        if (resourceRva == 0) return Fail(kErrorResourceTypeNotFound);
        if (!Map(resourceRva, kResourceDirectorySize, Root, RootEnd))
            return Fail(kErrorResourceDataNotFound);

        // Exactly three levels: type, name, language. A directory that points back at itself or
        // an ancestor therefore ends at the level where a data entry is due, never in a loop.
        uint32_t typeDir = 0;
        if (!FindEntry(0, true, kRtVersion, typeDir) || !(typeDir & kHighBit))
            return Fail(kErrorResourceTypeNotFound);
        uint32_t nameDir = 0;
        if (!FindEntry(typeDir & ~kHighBit, false, 0, nameDir) || !(nameDir & kHighBit))
            return Fail(kErrorResourceNameNotFound);
        uint32_t dataEntry = 0;
        if (!FindEntry(nameDir & ~kHighBit, false, 0, dataEntry) || (dataEntry & kHighBit))
            return Fail(kErrorResourceLangNotFound);

        uint8_t data[16];
        if (!ReadResource(dataEntry, data, sizeof data)) return Fail(kErrorResourceDataNotFound);
        const uint32_t blockRva = Le32(data);
        const uint32_t blockSize = Le32(data + 4);
        if (blockSize < kVersionHeadSize) return Fail(kErrorResourceDataNotFound);

        uint64_t blockAt = 0;
        uint64_t blockEnd = 0;
        uint8_t block[kVersionHeadSize];
        if (!Map(blockRva, kVersionHeadSize, blockAt, blockEnd) ||
            !Read(blockAt, block, sizeof block))
            return Fail(kErrorResourceDataNotFound);
        return ParseVersionBlock(block, out);
    }

  private:
    static int32_t Fail(int32_t code) { return StatusFromError(code); }

    bool Read(uint64_t offset, void* buffer, std::size_t size) {
        if (offset > Image.Size() || size > Image.Size() - offset) return false;
        return Image.ReadAt(offset, buffer, size);
    }

    // The file offset of [rva, rva + size) when one section's raw data holds all of it, and the
    // end of that section's data in the file.
    bool Map(uint32_t rva, uint64_t size, uint64_t& offset, uint64_t& end) {
        for (uint64_t i = 0; i < SectionCount; ++i) {
            uint8_t section[kSectionHeaderSize];
            if (!Read(SectionTable + i * kSectionHeaderSize, section, sizeof section)) return false;
            const uint32_t virtualSize = Le32(section + 8);
            const uint32_t virtualAddress = Le32(section + 12);
            const uint32_t rawSize = Le32(section + 16);
            const uint32_t rawPointer = Le32(section + 20);
            // The loader maps no more of the raw data than the section's virtual size.
            const uint64_t extent =
                virtualSize ? std::min(virtualSize, rawSize) : uint64_t{rawSize};
            if (rva < virtualAddress || rva - virtualAddress >= extent) continue;
            if (rva - virtualAddress + size > extent) return false;
            offset = uint64_t{rawPointer} + (rva - virtualAddress);
            end = std::min<uint64_t>(uint64_t{rawPointer} + extent, Image.Size());
            return true;
        }
        return false;
    }

    // Reads `size` bytes at `relative` bytes from the resource root, within the root's section.
    bool ReadResource(uint64_t relative, void* buffer, std::size_t size) {
        const uint64_t at = Root + relative;
        if (at > RootEnd || size > RootEnd - at) return false;
        return Read(at, buffer, size);
    }

    // The OffsetToData of the entry with ID `id` (byId) or of the first entry of the directory
    // at `relative`. Entries are counted only as far as the section holds them.
    bool FindEntry(uint32_t relative, bool byId, uint32_t id, uint32_t& target) {
        uint8_t dir[kResourceDirectorySize];
        if (!ReadResource(relative, dir, sizeof dir)) return false;
        const uint64_t named = Le16(dir + 12);
        const uint64_t total = named + Le16(dir + 14);
        const uint64_t first = Root + relative + kResourceDirectorySize;
        const uint64_t room = first <= RootEnd ? (RootEnd - first) / kResourceEntrySize : 0;
        const uint64_t count = std::min(total, room);
        // IDs follow the named entries; a name never matches an ID.
        for (uint64_t i = byId ? named : 0; i < count; ++i) {
            uint8_t entry[kResourceEntrySize];
            if (!ReadResource(relative + kResourceDirectorySize + i * kResourceEntrySize, entry,
                              sizeof entry))
                return false;
            const uint32_t name = Le32(entry);
            if (byId && name != id) continue;
            target = Le32(entry + 4);
            return true;
        }
        return false;
    }

    static int32_t ParseVersionBlock(const uint8_t* block, VS_FIXEDFILEINFO& out) {
        const uint16_t length = Le16(block);
        const uint16_t valueLength = Le16(block + 2);
        if (length < kVersionHeadSize || valueLength < sizeof(VS_FIXEDFILEINFO))
            return Fail(kErrorResourceDataNotFound);
        for (std::size_t i = 0; i < std::size(kVersionKey); ++i)  // the terminator included
            if (Le16(block + kVersionKeyOffset + 2 * i) != kVersionKey[i])
                return Fail(kErrorResourceDataNotFound);
        const uint8_t* value = block + kFixedInfoOffset;
        if (Le32(value) != VS_FFI_SIGNATURE) return Fail(kErrorResourceDataNotFound);
        uint32_t words[13];
        for (std::size_t i = 0; i < 13; ++i) words[i] = Le32(value + 4 * i);
        static_assert(sizeof words == sizeof(VS_FIXEDFILEINFO));
        std::memcpy(&out, words, sizeof out);
        return 0;
    }

    ImageSource& Image;
    uint64_t SectionTable = 0;
    uint64_t SectionCount = 0;
    uint64_t Root = 0;
    uint64_t RootEnd = 0;
};

}  // namespace

int32_t ReadFixedFileInfo(ImageSource& image, VS_FIXEDFILEINFO& out) {
    return PeWalker(image).Read(out);
}

int32_t ReadFixedFileInfo(std::span<const uint8_t> image, VS_FIXEDFILEINFO& out) {
    SpanImageSource source(image);
    return ReadFixedFileInfo(source, out);
}

}  // namespace toval
