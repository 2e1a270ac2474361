#include "tools/patch_maker.h"

#include <zstd.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "platform/file_handle.h"

namespace toval {

namespace {

struct CCtxFree {
    void operator()(ZSTD_CCtx* c) const { ZSTD_freeCCtx(c); }
};

// The smallest power of two (as its exponent) that holds `bytes`.
int CeilLog2(uint64_t bytes) {
    int log = 0;
    while ((1ull << log) < bytes) ++log;
    return log;
}

// zstd's smallest window (ZSTD_WINDOWLOG_MIN, among its experimental names).
constexpr int kMinWindowLog = 10;
// zstd's largest window on 64-bit systems (ZSTD_WINDOWLOG_MAX_64).
constexpr int kMaxWindowLog = 31;

// Programs, which a small fix changes all over, gain from zstd's strongest search (level 19 made
// a rebuilt 850 KB program's patch a fifth smaller than level 3 did). Data files change in blocks,
// which long-distance matching finds at any level: a 256 MiB pack's patch came out the same size
// at level 3 in 0.97 s as at 12 in 9.6 s, and a 48 MiB one the same at 3 in 0.13 s as at 19 in
// 19.5 s. Level 19 costs about 0.4 s a megabyte, so it is kept for files the size of programs.
int LevelFor(uint64_t bytes) { return bytes <= (16ull << 20) ? 19 : 3; }

}  // namespace

PatchMade MakePatch(std::string_view from, std::string_view to, const std::string& path,
                    uint64_t limit, std::string& error) {
    const uint64_t reach = static_cast<uint64_t>(from.size()) + to.size();
    if (from.size() > kMaxPatchSource || limit == 0) return PatchMade::NotWorthIt;
    std::unique_ptr<ZSTD_CCtx, CCtxFree> cctx(ZSTD_createCCtx());
    if (!cctx) {
        error = "out of memory";
        return PatchMade::Failed;
    }
    // The window covers the old file and the new one where zstd allows, so a match anywhere in
    // the old file can be referred to from anywhere in the new one.
    const int windowLog = std::clamp(CeilLog2(reach), kMinWindowLog, kMaxWindowLog);
    ZSTD_CCtx* c = cctx.get();
    const auto set = [c](ZSTD_cParameter p, int v) {
        return !ZSTD_isError(ZSTD_CCtx_setParameter(c, p, v));
    };
    if (!set(ZSTD_c_compressionLevel, LevelFor(to.size())) ||
        !set(ZSTD_c_enableLongDistanceMatching, 1) || !set(ZSTD_c_windowLog, windowLog) ||
        !set(ZSTD_c_contentSizeFlag, 1) || !set(ZSTD_c_checksumFlag, 1) ||
        ZSTD_isError(ZSTD_CCtx_setPledgedSrcSize(c, to.size())) ||
        ZSTD_isError(ZSTD_CCtx_refPrefix(c, from.data(), from.size()))) {
        error = "zstd refused the patch parameters";
        return PatchMade::Failed;
    }
    const std::string temp = path + ".new";
    // Read by the web server as any published file (the mode a new file gets under the umask).
    FileHandle out = FileHandle::Open(temp, OpenFor::Create, 0666);
    bool ok = out.IsOpen();
    std::vector<char> buffer(ZSTD_CStreamOutSize());
    ZSTD_inBuffer in{to.data(), to.size(), 0};
    size_t left = 0;
    uint64_t written = 0;
    bool tooLong = false;
    do {
        ZSTD_outBuffer o{buffer.data(), buffer.size(), 0};
        left = ZSTD_compressStream2(c, &o, &in, ZSTD_e_end);
        if (ZSTD_isError(left)) {
            error = ZSTD_getErrorName(left);
            break;
        }
        written += o.pos;
        // A patch that would not be listed is never published, so it is not finished either.
        tooLong = ok && written >= limit;
        ok = ok && !tooLong && out.WriteAll(buffer.data(), o.pos);
    } while (left != 0 && ok);
    ok = out.Close() && ok;
    if (left == 0 && ok && RenameOver(temp, path)) return PatchMade::Written;
    RemoveFile(temp);
    if (tooLong) return PatchMade::NotWorthIt;
    if (error.empty()) error = "cannot write " + path;
    return PatchMade::Failed;
}

}  // namespace toval
