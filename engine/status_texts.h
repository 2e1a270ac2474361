#pragma once
// Every text the update run shows, in one place, with the helper that fills them in. The texts
// are what players of the game know; they must not change wording or punctuation.

#include <initializer_list>
#include <string>
#include <string_view>

namespace toval {

// The one built-in update server.
inline constexpr std::string_view kServerName = "Toval更新服务器";

// Status line.
inline constexpr std::string_view kTextConnecting = "正在连接：%s";
inline constexpr std::string_view kTextCatalogueFetched = "获取更新文件列表成功：%s";
inline constexpr std::string_view kTextUpToDate = "你当前的版本是最新的";
inline constexpr std::string_view kTextTotals = "需更新文件总数: %u, 文件总长度: %u KB";
inline constexpr std::string_view kTextErrorAtServer = "%s：%s";
inline constexpr std::string_view kTextFileFailed = "下载文件失败 [%s], 错误代码 [%u]";
inline constexpr std::string_view kTextDeleteFailed = "删除文件失败 [%s]";
inline constexpr std::string_view kTextRenameFailed = "重命名文件失败 [%s]";
inline constexpr std::string_view kTextFileInstalled = "下载文件成功 [%s]";
inline constexpr std::string_view kTextFinished = "更新完毕";
// --verify: how many files had their bytes checked, and how many of them were fetched again.
inline constexpr std::string_view kTextVerified = "已校验文件 %u 个, 修复 %u 个";
// Another updater is working on the same client directory; this one waits for it.
inline constexpr std::string_view kTextWaitingForOtherRun = "正在等待另一个更新程序结束";
inline constexpr std::string_view kTextOtherRunStillRunning = "另一个更新程序仍在运行, 请稍后再试";
// An action (run or register) a run that was cut off had journaled but not started.
inline constexpr std::string_view kTextReplayingAction = "执行上次更新未完成的操作 [%s]";
// The files to download do not fit on the disk they go to (both figures in KB).
inline constexpr std::string_view kTextDiskFull = "磁盘空间不足: 需要 %u KB, 可用 %u KB";

// Message boxes.
inline constexpr std::string_view kCaptionSystemNotice = "系统提示";
inline constexpr std::string_view kTextNetworkCause = "可能由于网络原因，%s ";
// A catalogue that arrived but is not one (an error page served with status 200, say).
inline constexpr std::string_view kTextCatalogueUnreadable =
    "更新文件列表格式错误, 请到官网下载最新版本";

// Why a signed catalogue is refused (the updater trusts keys in toval-updater.pub beside it).
inline constexpr std::string_view kTextSignatureMissing =
    "无法取得更新文件列表的签名, 请到官网下载最新版本";
inline constexpr std::string_view kTextSignatureInvalid =
    "更新文件列表的签名无效, 请到官网下载最新版本";
inline constexpr std::string_view kTextCatalogueRolledBack =
    "更新文件列表比已使用过的旧, 请到官网下载最新版本";
inline constexpr std::string_view kTextCatalogueExpired = "更新文件列表已过期, 请稍后再试";
inline constexpr std::string_view kTextHashMissing =
    "更新文件列表缺少文件校验值, 请到官网下载最新版本";

// The game lobby started at the end of a finished run.
inline constexpr std::string_view kLobbyProgram = "lobby.exe";
inline constexpr std::string_view kLobbyArgument = "gameToval";

// Replaces each "%s" or "%u" of `format`, in order, with the next value. Values are inserted as
// they are, so a value that itself holds "%s" is never expanded; missing values leave the marker.
inline std::string FillText(std::string_view format,
                            std::initializer_list<std::string_view> values) {
    std::string out;
    out.reserve(format.size() + 64);
    auto next = values.begin();
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size() &&
            (format[i + 1] == 's' || format[i + 1] == 'u') && next != values.end()) {
            out += *next++;
            ++i;
        } else {
            out += format[i];
        }
    }
    return out;
}

// Signed mode: the serial floor or the learnt target cannot be read or saved in the state
// directory, so a rollback could no longer be told.
inline constexpr std::string_view kTextTrustStateNotKept =
    "无法保存更新文件列表的版本记录, 请检查程序目录的写入权限";

// The keys file is gone from a client whose state shows it accepted signed catalogues; it
// refuses unsigned ones until the client is reinstalled or its state directory deleted.
inline constexpr std::string_view kTextTrustedKeysLost =
    "更新文件列表的签名公钥文件 toval-updater.pub 丢失, 请重新安装客户端, 或删除 "
    ".toval-updater 目录后重试";

}  // namespace toval
