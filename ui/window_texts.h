#pragma once
// The texts of the progress window and its tray icon, in UTF-8, for both windows.

#include <cstdint>
#include <string>
#include <string_view>

namespace toval {

inline constexpr std::string_view kWindowTitle = "自动升级-正在下载文件";
inline constexpr std::string_view kTrayTipIdle = "正在自动更新";
// The most a tray tip may hold, in UTF-16 code units: the tray record keeps 63 and a terminator.
inline constexpr int kTrayTipLimit = 63;

std::string SpeedText(int32_t kilobytesPerSecond);                             // "%dKB/秒"
std::string CountText(int32_t percent, int32_t position, uint32_t fileCount);  // "%d% (%d/%d)"

// The tip while a transfer runs. A file transfer shows its name (without folders) and the
// overall percentage; a long name loses its beginning so that the figure always shows, and is
// never cut inside a character. The catalogue transfer keeps the plain tip.
std::string TransferTip(int32_t kind, const std::string& fileName, int32_t totalPercent);

// How many UTF-16 code units `utf8` takes: what the tray's limit counts.
int Utf16Length(std::string_view utf8);

}  // namespace toval
