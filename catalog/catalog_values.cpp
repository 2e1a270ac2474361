#include "catalog/catalog_values.h"

#include <limits>
#include <optional>

#include "platform/text.h"

namespace toval {

namespace {

template <class... Ts>
struct Overloaded : Ts... {
    using Ts::operator()...;
};
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

uint32_t ParseDateWord(std::string_view text) {
    const bool negative = TakeSpaceAndSign(text);
    uint32_t value = 0;
    while (const std::optional<unsigned> digit = TakeAsciiDigit(text))
        value = value * 10u + *digit;  // wraps modulo 2^32 by design
    return negative ? 0u - value : value;
}

uint64_t ParseLength(std::string_view text) {
    constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
    const bool negative = TakeSpaceAndSign(text);
    uint64_t value = 0;
    while (const std::optional<unsigned> digit = TakeAsciiDigit(text)) {
        if (value > (kMax - *digit) / 10u) return kMax;
        value = value * 10u + *digit;
    }
    return negative ? 0u - value : value;
}

}  // namespace

void CatalogField::Store(CFileEntry& entry, std::string_view text) const {
    std::visit(Overloaded{
                   [&](std::string CFileEntry::*m) { entry.*m = text; },
                   [&](uint64_t CFileEntry::*m) { entry.*m = ParseLength(text); },
                   [&](bool CFileEntry::*m) { entry.*m = EqualsIgnoringAsciiCase(text, "YES"); },
                   [&](DateWord m) { entry.FileDate.*m = ParseDateWord(text); },
               },
               Field);
}

std::string CatalogField::Text(const CFileEntry& entry) const {
    return std::visit(Overloaded{
                          [&](std::string CFileEntry::*m) { return entry.*m; },
                          [&](uint64_t CFileEntry::*m) { return std::to_string(entry.*m); },
                          [&](bool CFileEntry::*m) { return std::string(entry.*m ? "YES" : "NO"); },
                          [&](DateWord m) { return std::to_string(entry.FileDate.*m); },
                      },
                      Field);
}

const CatalogField* MatchCatalogField(std::string_view elementName) {
    for (const CatalogField& field : kCatalogFields) {
        if (EqualsIgnoringAsciiCase(elementName, field.Name)) return &field;
    }
    return nullptr;
}

}  // namespace toval
