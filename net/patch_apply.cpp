#include "net/patch_apply.h"

// The stable output buffer is among zstd's advanced parameters; Debian ships the zstd that
// the program is built against, so its number cannot drift.
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

#include <algorithm>
#include <memory>

#include "net/TrailingHash.h"
#include "platform/file_handle.h"
#include "platform/mapped_file.h"

namespace toval {

namespace {

struct DCtxFree {
    void operator()(ZSTD_DCtx* d) const { ZSTD_freeDCtx(d); }
};

// The largest window a patch may use: zstd's limit on 64-bit systems (ZSTD_WINDOWLOG_MAX_64).
// Decoding into the mapped result needs no window buffer of its own, whatever the size.
constexpr int kMaxWindowLog = 31;
constexpr size_t kInputStep = 16 << 10;
constexpr size_t kWritebackStep = 8 << 20;

std::optional<Sha256Digest> Decode(const MappedFile& source, const MappedFile& patch,
                                   FileHandle& file, uint64_t length) {
    const std::string_view bytes = patch.Bytes();
    if (ZSTD_getFrameContentSize(bytes.data(), bytes.size()) != length) return std::nullopt;
    // The blocks are taken before anything is written through the mapping: a full disk is then
    // a failed call here, not a fault in the middle of writing.
    if (length != 0 && !file.Reserve(length)) return std::nullopt;
    // Unmapped before the file is closed.
    WritableMapping out(file, length);
    std::unique_ptr<ZSTD_DCtx, DCtxFree> dctx(ZSTD_createDCtx());
    // The result is its own window (a stable output buffer): the decoder allocates none.
    if (!out.Ok() || !dctx ||
        ZSTD_isError(ZSTD_DCtx_setParameter(dctx.get(), ZSTD_d_windowLogMax, kMaxWindowLog)) ||
        ZSTD_isError(ZSTD_DCtx_setParameter(dctx.get(), ZSTD_d_stableOutBuffer, 1)) ||
        ZSTD_isError(ZSTD_DCtx_refPrefix(dctx.get(), source.Bytes().data(), source.Bytes().size())))
        return std::nullopt;
    // Fed a little at a time: the result is hashed on a second thread right behind the
    // decoder, and goes to the disk while the rest is decoded rather than all at the end.
    TrailingHash hash(out.Bytes());
    Sha256 here;  // when no second thread could be had
    ZSTD_outBuffer o{out.Bytes(), static_cast<size_t>(length), 0};
    size_t fed = 0, made = 0, flushed = 0;
    while (true) {
        ZSTD_inBuffer in{bytes.data(), std::min(bytes.size(), fed + kInputStep), fed};
        const size_t left = ZSTD_decompressStream(dctx.get(), &o, &in);
        if (ZSTD_isError(left)) return std::nullopt;
        const bool progressed = in.pos != fed || o.pos != made;
        fed = in.pos;
        if (!hash.Started()) here.Update(out.Bytes() + made, o.pos - made);
        made = o.pos;
        hash.Advance(made);
        if (made - flushed >= kWritebackStep) {
            file.StartWriteback(flushed, made - flushed);
            flushed = made;
        }
        if (left == 0) break;                  // the frame is complete
        if (!progressed) return std::nullopt;  // the patch ends inside its frame
    }
    // Nothing may follow the frame, and the frame must have made the whole file.
    if (fed != bytes.size() || made != length) return std::nullopt;
    // Whoever syncs the file later (this call, or the batch before its renames) finds the
    // result in it, not only in the mapping.
    if (!out.Flush()) return std::nullopt;
    return hash.Started() ? hash.Finish(length) : here.Final();
}

}  // namespace

std::optional<Sha256Digest> ApplyPatch(const std::string& sourcePath, const std::string& patchPath,
                                       const PatchOutput& out) {
    const MappedFile source(sourcePath);
    const MappedFile patch(patchPath);
    if (!source.Ok() || !patch.Ok()) return std::nullopt;
    FileHandle file =
        FileHandle::Open(out.Path, out.Replace ? OpenFor::Create : OpenFor::CreateNew);
    if (!file.IsOpen()) return std::nullopt;
    std::optional<Sha256Digest> digest = Decode(source, patch, file, out.Length);
    if (digest && out.Mode != 0 && !file.SetMode(out.Mode)) digest.reset();
    if (digest && out.Sync && !file.Sync()) digest.reset();
    if (!file.Close()) digest.reset();
    if (!digest) RemoveFile(out.Path);
    return digest;
}

}  // namespace toval
