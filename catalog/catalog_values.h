#pragma once
// The sixteen values a catalogue File element carries, and how their texts become record fields
// and back. Pure text rules, shared by the reader and the writer.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace toval {

class CFileEntry;

enum class CatalogField : uint8_t {
    FileName,
    FileVersion,
    ProductVersion,
    Length,
    FileDateLow,
    FileDateHigh,
    InstallDir,
    Register,
    ZipFile,
    ForceOverwrite,
    Execute,
    ExecutePar,
    LocalPath,
    URL,
    UserName,
    Password,
};

// The element names, in the order a catalogue lists them.
inline constexpr std::array<std::string_view, 16> kCatalogFieldNames = {
    "FileName",   "FileVersion", "ProductVersion", "Length",         "FileDateLow", "FileDateHigh",
    "InstallDir", "Register",    "ZipFile",        "ForceOverwrite", "Execute",     "ExecutePar",
    "LocalPath",  "URL",         "UserName",       "Password",
};

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);

// The field an element name stands for, ASCII letter case ignored.
std::optional<CatalogField> MatchCatalogField(std::string_view elementName);

// C-locale white space, one optional sign, then decimal digits up to the first other character,
// accumulated modulo 2^32 and negated for "-". No digits gives 0.
uint32_t ParseCatalogNumber32(std::string_view text);

// The same rule in 64 bits, for lengths: "-5" gives 2^64 - 5. A magnitude that does not fit in
// 64 bits gives UINT64_MAX whatever the sign. Either way the result is no length a real file can
// have (sizes stop at 2^63 - 1), so such an entry always downloads instead of matching by chance
// a small file the way a wrapped value could.
uint64_t ParseCatalogLength(std::string_view text);

// Set only by "YES" in any ASCII letter case, with nothing around it.
bool ParseCatalogFlag(std::string_view text);

// Stores `text` into the field of `entry` by the field's value rule.
void StoreCatalogField(CFileEntry& entry, CatalogField field, std::string_view text);

// The text a catalogue carries for the field of `entry` (flags "YES"/"NO", numbers in decimal).
std::string CatalogFieldText(const CFileEntry& entry, CatalogField field);

}  // namespace toval
