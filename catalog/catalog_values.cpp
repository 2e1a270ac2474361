#include "catalog/catalog_values.h"

#include <limits>

#include "catalog/CFileEntry.h"

namespace toval {

namespace {

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Skips the white space and the sign; true when the sign was "-".
bool TakeSign(std::string_view& text) {
    std::size_t i = 0;
    while (i < text.size() && IsCSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    text.remove_prefix(i);
    return negative;
}

}  // namespace

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    }
    return true;
}

std::optional<CatalogField> MatchCatalogField(std::string_view elementName) {
    for (std::size_t i = 0; i < kCatalogFieldNames.size(); ++i) {
        if (EqualsIgnoringAsciiCase(elementName, kCatalogFieldNames[i])) {
            return static_cast<CatalogField>(i);
        }
    }
    return std::nullopt;
}

uint32_t ParseCatalogNumber32(std::string_view text) {
    const bool negative = TakeSign(text);
    uint32_t value = 0;
    for (char c : text) {
        if (!IsDigit(c)) break;
        value = value * 10u + static_cast<uint32_t>(c - '0');  // wraps modulo 2^32 by design
    }
    return negative ? 0u - value : value;
}

uint64_t ParseCatalogLength(std::string_view text) {
    constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
    const bool negative = TakeSign(text);
    uint64_t value = 0;
    for (char c : text) {
        if (!IsDigit(c)) break;
        const auto digit = static_cast<uint64_t>(c - '0');
        if (value > (kMax - digit) / 10u) return kMax;
        value = value * 10u + digit;
    }
    return negative ? 0u - value : value;
}

bool ParseCatalogFlag(std::string_view text) { return EqualsIgnoringAsciiCase(text, "YES"); }

void StoreCatalogField(CFileEntry& entry, CatalogField field, std::string_view text) {
    switch (field) {
        case CatalogField::FileName:
            entry.FileName = text;
            break;
        case CatalogField::FileVersion:
            entry.FileVersion = text;
            break;
        case CatalogField::ProductVersion:
            entry.ProductVersion = text;
            break;
        case CatalogField::Length:
            entry.Length = ParseCatalogLength(text);
            break;
        case CatalogField::FileDateLow:
            entry.FileDate.dwLowDateTime = ParseCatalogNumber32(text);
            break;
        case CatalogField::FileDateHigh:
            entry.FileDate.dwHighDateTime = ParseCatalogNumber32(text);
            break;
        case CatalogField::InstallDir:
            entry.InstallDir = text;
            break;
        case CatalogField::Register:
            entry.Register = ParseCatalogFlag(text);
            break;
        case CatalogField::ZipFile:
            entry.ZipFile = ParseCatalogFlag(text);
            break;
        case CatalogField::ForceOverwrite:
            entry.ForceOverwrite = ParseCatalogFlag(text);
            break;
        case CatalogField::Execute:
            entry.Execute = ParseCatalogFlag(text);
            break;
        case CatalogField::ExecutePar:
            entry.ExecutePar = text;
            break;
        case CatalogField::LocalPath:
            entry.LocalPath = text;
            break;
        case CatalogField::URL:
            entry.URL = text;
            break;
        case CatalogField::UserName:
            entry.UserName = text;
            break;
        case CatalogField::Password:
            entry.Password = text;
            break;
    }
}

std::string CatalogFieldText(const CFileEntry& entry, CatalogField field) {
    auto flag = [](bool set) { return std::string(set ? "YES" : "NO"); };
    switch (field) {
        case CatalogField::FileName:
            return entry.FileName;
        case CatalogField::FileVersion:
            return entry.FileVersion;
        case CatalogField::ProductVersion:
            return entry.ProductVersion;
        case CatalogField::Length:
            return std::to_string(entry.Length);
        case CatalogField::FileDateLow:
            return std::to_string(entry.FileDate.dwLowDateTime);
        case CatalogField::FileDateHigh:
            return std::to_string(entry.FileDate.dwHighDateTime);
        case CatalogField::InstallDir:
            return entry.InstallDir;
        case CatalogField::Register:
            return flag(entry.Register);
        case CatalogField::ZipFile:
            return flag(entry.ZipFile);
        case CatalogField::ForceOverwrite:
            return flag(entry.ForceOverwrite);
        case CatalogField::Execute:
            return flag(entry.Execute);
        case CatalogField::ExecutePar:
            return entry.ExecutePar;
        case CatalogField::LocalPath:
            return entry.LocalPath;
        case CatalogField::URL:
            return entry.URL;
        case CatalogField::UserName:
            return entry.UserName;
        case CatalogField::Password:
            return entry.Password;
    }
    return {};
}

}  // namespace toval
