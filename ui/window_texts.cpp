#include "ui/window_texts.h"

#include <cstdio>

namespace toval {

namespace {
bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// A lead byte of four bytes stands for a character outside the basic plane: two UTF-16 units.
int Utf16Units(unsigned char lead) { return lead >= 0xF0 ? 2 : 1; }

std::string_view BaseName(std::string_view path) {
    const auto cut = path.find_last_of("/\\");
    return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

// The longest end of `text` that fits in `room` UTF-16 units, starting on a character.
std::string_view TailWithin(std::string_view text, int room) {
    size_t from = text.size();
    int used = 0;
    while (from > 0) {
        size_t start = from - 1;
        while (start > 0 && IsContinuation(static_cast<unsigned char>(text[start]))) --start;
        const int units = Utf16Units(static_cast<unsigned char>(text[start]));
        if (used + units > room) break;
        used += units;
        from = start;
    }
    return text.substr(from);
}
}  // namespace

std::string SpeedText(int32_t kilobytesPerSecond) {
    return std::to_string(kilobytesPerSecond) + "KB/秒";
}

std::string CountText(int32_t percent, int32_t position, uint32_t fileCount) {
    // The file count is shown as a signed number, as the other figures are.
    char text[64];
    std::snprintf(text, sizeof text, "%d%% (%d/%d)", percent, position,
                  static_cast<int32_t>(fileCount));
    return text;
}

int Utf16Length(std::string_view utf8) {
    int units = 0;
    for (unsigned char c : utf8) {
        if (!IsContinuation(c)) units += Utf16Units(c);
    }
    return units;
}

std::string TransferTip(int32_t kind, const std::string& fileName, int32_t totalPercent) {
    std::string tip(kTrayTipIdle);
    if (kind != 2) return tip;
    tip.append(": ");
    std::string tail(1, ' ');
    tail.append(std::to_string(totalPercent)).append(1, '%');
    const std::string_view name = BaseName(fileName);
    const int room = kTrayTipLimit - Utf16Length(tip) - Utf16Length(tail);
    if (Utf16Length(name) > room) {
        // One unit goes to the ellipsis.
        tip.append("…").append(TailWithin(name, room - 1));
    } else {
        tip.append(name);
    }
    return tip.append(tail);
}

}  // namespace toval
