#pragma once
// The values a catalogue File element carries, and how their texts become record fields and
// back. One table serves the reader and the writer, so the two cannot drift apart.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "catalog/CFileEntry.h"

namespace toval {

// One child element of File and the record field it fills. The kind of field decides the value
// rule:
//   text       taken as it stands, white space included;
//   length     C white space, one optional sign, then decimal digits up to the first other
//              character, negated for "-"; no digits give 0. "-5" gives 2^64 - 5, and a magnitude
//              past 64 bits gives UINT64_MAX whatever the sign. Either way the result is no length
//              a real file can have (sizes stop at 2^63 - 1), so such an entry always downloads
//              instead of matching by chance a small file the way a wrapped value could;
//   date word  the same, but accumulated modulo 2^32;
//   flag       set only by "YES" in any ASCII letter case, with nothing around it; written back
//              as "YES" or "NO".
// Numbers are written back in decimal.
struct CatalogField {
    using DateWord = uint32_t FILETIME::*;  // a half of CFileEntry::FileDate
    using Member = std::variant<std::string CFileEntry::*, uint64_t CFileEntry::*,
                                bool CFileEntry::*, DateWord>;

    std::string_view Name;
    Member Field;
    // A value that catalogues of old lack is written only when there is one.
    bool Optional = false;

    void Store(CFileEntry& entry, std::string_view text) const;
    std::string Text(const CFileEntry& entry) const;
};

// In the order a catalogue lists them.
inline constexpr std::array<CatalogField, 17> kCatalogFields = {{
    {"FileName", &CFileEntry::FileName},
    {"FileVersion", &CFileEntry::FileVersion},
    {"ProductVersion", &CFileEntry::ProductVersion},
    {"Length", &CFileEntry::Length},
    {"FileDateLow", &FILETIME::dwLowDateTime},
    {"FileDateHigh", &FILETIME::dwHighDateTime},
    {"InstallDir", &CFileEntry::InstallDir},
    {"Register", &CFileEntry::Register},
    {"ZipFile", &CFileEntry::ZipFile},
    {"ForceOverwrite", &CFileEntry::ForceOverwrite},
    {"Execute", &CFileEntry::Execute},
    {"ExecutePar", &CFileEntry::ExecutePar},
    {"LocalPath", &CFileEntry::LocalPath},
    {"URL", &CFileEntry::URL},
    {"UserName", &CFileEntry::UserName},
    {"Password", &CFileEntry::Password},
    {"Sha256", &CFileEntry::Sha256, true},
}};

// The field an element name stands for, ASCII letter case ignored; nullptr for any other name.
const CatalogField* MatchCatalogField(std::string_view elementName);

}  // namespace toval
