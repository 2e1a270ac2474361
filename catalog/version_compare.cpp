#include "catalog/version_compare.h"

#include <algorithm>
#include <array>

#include "platform/text.h"

namespace toval {

namespace {

// Splits "a.b.c.d" into its four digit runs; false when the text is not of that form.
bool SplitFourNumbers(std::string_view text, std::array<std::string_view, 4>& parts) {
    std::size_t part = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == '.') {
            if (i == start || part == parts.size()) return false;
            parts[part++] = text.substr(start, i - start);
            start = i + 1;
        } else if (text[i] < '0' || text[i] > '9') {
            return false;
        }
    }
    return part == parts.size();
}

// Decimal digit runs of any length, compared by value: leading zeros skipped, then the longer
// run is the larger number, then digit by digit. No conversion, so nothing can overflow.
int CompareNumber(std::string_view a, std::string_view b) {
    a.remove_prefix(std::min(a.find_first_not_of('0'), a.size()));
    b.remove_prefix(std::min(b.find_first_not_of('0'), b.size()));
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    const int c = a.compare(b);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

}  // namespace

int CompareVersionTexts(std::string_view a, std::string_view b) {
    std::array<std::string_view, 4> pa;
    std::array<std::string_view, 4> pb;
    if (SplitFourNumbers(a, pa) && SplitFourNumbers(b, pb)) {
        for (std::size_t i = 0; i < pa.size(); ++i)
            if (const int c = CompareNumber(pa[i], pb[i])) return c;
        return 0;
    }
    // Anything else keeps the plain text order.
    return CompareIgnoringAsciiCase(a, b);
}

}  // namespace toval
