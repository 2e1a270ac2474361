#include "tests/support/PeBuilder.h"

#include <fstream>

namespace toval::test {

namespace {

constexpr uint32_t kFileAlignment = 0x200;
constexpr uint32_t kSectionAlignment = 0x1000;
constexpr uint32_t kPeOffset = 0x40;
constexpr uint32_t kResourceRva = 0x1000;
constexpr uint32_t kResourceFileOffset = 0x200;  // = SizeOfHeaders

// Offsets inside the resource section.
constexpr uint32_t kTypeDir = 0x00;
constexpr uint32_t kNameDir = 0x18;
constexpr uint32_t kLangDir = 0x30;
constexpr uint32_t kDataEntry = 0x48;
constexpr uint32_t kVersionBlock = 0x58;
constexpr uint32_t kSubdirectory = 0x80000000u;

class Bytes {
  public:
    void Put16(std::size_t at, uint16_t v) { Put(at, v, 2); }
    void Put32(std::size_t at, uint32_t v) { Put(at, v, 4); }
    void Put64(std::size_t at, uint64_t v) { Put(at, v, 8); }
    void PutText(std::size_t at, const char* text, std::size_t n) {
        Grow(at + n);
        for (std::size_t i = 0; i < n; ++i) Data[at + i] = text[i];
    }
    // UTF-16LE with its terminator; returns the offset after it.
    std::size_t PutKey(std::size_t at, const char* key) {
        std::size_t i = 0;
        for (; key[i]; ++i) Put16(at + 2 * i, static_cast<uint8_t>(key[i]));
        Put16(at + 2 * i, 0);
        return at + 2 * (i + 1);
    }
    void Grow(std::size_t size) {
        if (Data.size() < size) Data.resize(size, '\0');
    }
    std::string Data;

  private:
    void Put(std::size_t at, uint64_t v, int n) {
        Grow(at + n);
        for (int i = 0; i < n; ++i) Data[at + i] = static_cast<char>(v >> (8 * i));
    }
};

std::size_t Align4(std::size_t n) { return (n + 3) & ~std::size_t{3}; }

uint32_t Ms(const std::array<uint16_t, 4>& v) { return uint32_t{v[0]} << 16 | v[1]; }
uint32_t Ls(const std::array<uint16_t, 4>& v) { return uint32_t{v[2]} << 16 | v[3]; }

// VS_VERSION_INFO with its VS_FIXEDFILEINFO and a VarFileInfo\Translation child, at `at`.
std::size_t PutVersionBlock(Bytes& b, std::size_t at, const PeOptions& o) {
    const std::size_t valueAt = Align4(
        b.PutKey(at + 6, o.Defect == PeDefect::BadKey ? "VS_VERSION_INFX" : "VS_VERSION_INFO"));
    b.Put32(valueAt, o.Defect == PeDefect::BadSignature ? 0xFEEF04BCu : 0xFEEF04BDu);
    b.Put32(valueAt + 4, 0x00010000);  // dwStrucVersion
    b.Put32(valueAt + 8, Ms(o.FileVersion));
    b.Put32(valueAt + 12, Ls(o.FileVersion));
    b.Put32(valueAt + 16, Ms(o.ProductVersion));
    b.Put32(valueAt + 20, Ls(o.ProductVersion));
    b.Put32(valueAt + 24, 0x3F);     // dwFileFlagsMask
    b.Put32(valueAt + 32, 0x40004);  // VOS_NT_WINDOWS32
    b.Put32(valueAt + 36, 1);        // VFT_APP

    const std::size_t varFileInfo = valueAt + 52;
    const std::size_t translation = Align4(b.PutKey(varFileInfo + 6, "VarFileInfo"));
    const std::size_t translationValue = Align4(b.PutKey(translation + 6, "Translation"));
    b.Put16(translationValue, 0x0409);
    b.Put16(translationValue + 2, 1200);
    const std::size_t end = translationValue + 4;
    b.Put16(translation, static_cast<uint16_t>(end - translation));
    b.Put16(translation + 2, 4);
    b.Put16(translation + 4, 0);
    b.Put16(varFileInfo, static_cast<uint16_t>(end - varFileInfo));
    b.Put16(varFileInfo + 2, 0);
    b.Put16(varFileInfo + 4, 1);

    const bool empty = o.Defect == PeDefect::ZeroSizeVersionBlock;
    b.Put16(at, empty ? 0 : static_cast<uint16_t>(end - at));
    b.Put16(at + 2, o.Defect == PeDefect::ShortValue ? 48 : 52);
    b.Put16(at + 4, 0);
    return end - at;
}

void PutDirectory(Bytes& b, std::size_t at, uint16_t named, uint16_t ids, uint32_t name,
                  uint32_t target) {
    b.Put16(at + 12, named);
    b.Put16(at + 14, ids);
    b.Put32(at + 16, name);
    b.Put32(at + 20, target);
}

}  // namespace

std::vector<PeDefect> AllPeDefects() {
    std::vector<PeDefect> all;
    for (int d = static_cast<int>(PeDefect::NotMz); d <= static_cast<int>(PeDefect::BadSignature);
         ++d)
        all.push_back(static_cast<PeDefect>(d));
    return all;
}

const char* PeDefectName(PeDefect defect) {
    switch (defect) {
        case PeDefect::None:
            return "None";
        case PeDefect::NotMz:
            return "NotMz";
        case PeDefect::BadPeSignature:
            return "BadPeSignature";
        case PeDefect::BadOptionalMagic:
            return "BadOptionalMagic";
        case PeDefect::TruncatedHeaders:
            return "TruncatedHeaders";
        case PeDefect::SectionTablePastEnd:
            return "SectionTablePastEnd";
        case PeDefect::NoResourceDirectory:
            return "NoResourceDirectory";
        case PeDefect::NoVersionResource:
            return "NoVersionResource";
        case PeDefect::HugeEntryCounts:
            return "HugeEntryCounts";
        case PeDefect::ResourceLoop:
            return "ResourceLoop";
        case PeDefect::ResourceOutOfRange:
            return "ResourceOutOfRange";
        case PeDefect::VersionRvaOutOfRange:
            return "VersionRvaOutOfRange";
        case PeDefect::ZeroSizeVersionBlock:
            return "ZeroSizeVersionBlock";
        case PeDefect::BadKey:
            return "BadKey";
        case PeDefect::ShortValue:
            return "ShortValue";
        case PeDefect::BadSignature:
            return "BadSignature";
    }
    return "?";
}

std::string MakePeImage(const PeOptions& o) {
    Bytes b;
    const PeDefect d = o.Defect;

    // DOS header.
    b.PutText(0, d == PeDefect::NotMz ? "ZM" : "MZ", 2);
    b.Put32(0x3C, kPeOffset);

    // Resource section first, so its size is known for the headers.
    const std::size_t r = kResourceFileOffset;
    const bool loop = d == PeDefect::ResourceLoop;
    const bool huge = d == PeDefect::HugeEntryCounts;
    PutDirectory(b, r + kTypeDir, huge ? 0xFFFF : 0, huge ? 0xFFFF : 1,
                 d == PeDefect::NoVersionResource ? 3 : 16,
                 kSubdirectory | (d == PeDefect::ResourceOutOfRange ? 0x7FFFFFF0u : kNameDir));
    PutDirectory(b, r + kNameDir, 0, 1, 1, kSubdirectory | (loop ? kNameDir : kLangDir));
    PutDirectory(b, r + kLangDir, 0, 1, 0x409, kDataEntry);
    const std::size_t blockSize = PutVersionBlock(b, r + kVersionBlock, o);
    b.Put32(r + kDataEntry,
            d == PeDefect::VersionRvaOutOfRange ? 0xFFFFFFF0u : kResourceRva + kVersionBlock);
    b.Put32(r + kDataEntry + 4,
            d == PeDefect::ZeroSizeVersionBlock ? 0 : static_cast<uint32_t>(blockSize));
    const uint32_t resourceSize = kVersionBlock + static_cast<uint32_t>(blockSize);
    const uint32_t rawSize = (resourceSize + kFileAlignment - 1) & ~(kFileAlignment - 1);
    b.Grow(r + rawSize);

    // "PE\0\0" and the file header.
    const std::size_t pe = kPeOffset;
    b.PutText(pe, d == PeDefect::BadPeSignature ? "PE\0\1" : "PE\0\0", 4);
    const uint16_t optionalSize = o.Pe64 ? 240 : 224;
    b.Put16(pe + 4, o.Pe64 ? 0x8664 : 0x14C);
    b.Put16(pe + 6, 1);
    b.Put16(pe + 20, d == PeDefect::SectionTablePastEnd ? 0xFFF0 : optionalSize);
    b.Put16(pe + 22, o.Pe64 ? 0x0022 : 0x0102);

    // Optional header.
    const std::size_t opt = pe + 24;
    uint16_t magic = o.Pe64 ? 0x20B : 0x10B;
    if (d == PeDefect::BadOptionalMagic) magic = 0x107;
    b.Put16(opt, magic);
    b.Put32(opt + 8, rawSize);  // SizeOfInitializedData
    if (o.Pe64)
        b.Put64(opt + 24, 0x140000000ull);
    else
        b.Put32(opt + 28, 0x400000);
    b.Put32(opt + 32, kSectionAlignment);
    b.Put32(opt + 36, kFileAlignment);
    b.Put16(opt + 40, 6);                                 // operating system version
    b.Put16(opt + 48, 6);                                 // subsystem version
    b.Put32(opt + 56, kResourceRva + kSectionAlignment);  // SizeOfImage
    b.Put32(opt + 60, kResourceFileOffset);               // SizeOfHeaders
    b.Put16(opt + 68, 2);                                 // Windows GUI
    const std::size_t countAt = opt + (o.Pe64 ? 108 : 92);
    b.Put32(countAt, 16);
    const std::size_t resourceSlot = countAt + 4 + 2 * 8;
    if (d != PeDefect::NoResourceDirectory) {
        b.Put32(resourceSlot, kResourceRva);
        b.Put32(resourceSlot + 4, resourceSize);
    }

    // The one section, ".rsrc".
    const std::size_t section = opt + optionalSize;
    b.PutText(section, ".rsrc\0\0\0", 8);
    b.Put32(section + 8, resourceSize);
    b.Put32(section + 12, kResourceRva);
    b.Put32(section + 16, rawSize);
    b.Put32(section + 20, kResourceFileOffset);
    b.Put32(section + 36, 0x40000040);  // initialised data, readable

    if (d == PeDefect::TruncatedHeaders) b.Data.resize(opt + 40);
    b.Data.append(o.TrailingBytes, '\x5A');
    return std::move(b.Data);
}

bool WritePeFile(const std::string& path, const PeOptions& options) {
    const std::string image = MakePeImage(options);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(image.data(), static_cast<std::streamsize>(image.size()));
    return static_cast<bool>(out.flush());
}

}  // namespace toval::test
