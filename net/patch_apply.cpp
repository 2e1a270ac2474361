#include "net/patch_apply.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
// The stable output buffer is among zstd's advanced parameters; Debian ships the zstd that
// the program is built against, so its number cannot drift.
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

#include <algorithm>
#include <memory>

#include "net/TrailingHash.h"
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

// The result's bytes, written through a shared mapping; unmapped before the file is closed.
class MappedOutput {
  public:
    MappedOutput(int fd, uint64_t length) : Length(static_cast<size_t>(length)) {
        if (Length == 0) return;
        void* p = ::mmap(nullptr, Length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (p != MAP_FAILED) Data = static_cast<char*>(p);
    }
    ~MappedOutput() {
        if (Data) ::munmap(Data, Length);
    }
    MappedOutput(const MappedOutput&) = delete;
    MappedOutput& operator=(const MappedOutput&) = delete;
    bool Ok() const { return Length == 0 || Data; }
    char* Data = nullptr;
    size_t Length;
};

std::optional<Sha256Digest> Decode(const MappedFile& source, const MappedFile& patch, int fd,
                                   uint64_t length) {
    const std::string_view bytes = patch.Bytes();
    if (ZSTD_getFrameContentSize(bytes.data(), bytes.size()) != length) return std::nullopt;
    // The blocks are taken before anything is written through the mapping: a full disk is then
    // a failed call here, not a fault in the middle of writing.
    if (length != 0 && ::posix_fallocate(fd, 0, static_cast<off_t>(length)) != 0)
        return std::nullopt;
    MappedOutput out(fd, length);
    std::unique_ptr<ZSTD_DCtx, DCtxFree> dctx(ZSTD_createDCtx());
    // The result is its own window (a stable output buffer): the decoder allocates none.
    if (!out.Ok() || !dctx ||
        ZSTD_isError(ZSTD_DCtx_setParameter(dctx.get(), ZSTD_d_windowLogMax, kMaxWindowLog)) ||
        ZSTD_isError(ZSTD_DCtx_setParameter(dctx.get(), ZSTD_d_stableOutBuffer, 1)) ||
        ZSTD_isError(ZSTD_DCtx_refPrefix(dctx.get(), source.Bytes().data(), source.Bytes().size())))
        return std::nullopt;
    // Fed a little at a time: the result is hashed on a second thread right behind the
    // decoder, and goes to the disk while the rest is decoded rather than all at the end.
    TrailingHash hash(out.Data);
    Sha256 here;  // when no second thread could be had
    ZSTD_outBuffer o{out.Data, out.Length, 0};
    size_t fed = 0, made = 0, flushed = 0;
    while (true) {
        ZSTD_inBuffer in{bytes.data(), std::min(bytes.size(), fed + kInputStep), fed};
        const size_t left = ZSTD_decompressStream(dctx.get(), &o, &in);
        if (ZSTD_isError(left)) return std::nullopt;
        const bool progressed = in.pos != fed || o.pos != made;
        fed = in.pos;
        if (!hash.Started()) here.Update(out.Data + made, o.pos - made);
        made = o.pos;
        hash.Advance(made);
        if (made - flushed >= kWritebackStep) {
            ::sync_file_range(fd, static_cast<off_t>(flushed), static_cast<off_t>(made - flushed),
                              SYNC_FILE_RANGE_WRITE);
            flushed = made;
        }
        if (left == 0) break;                  // the frame is complete
        if (!progressed) return std::nullopt;  // the patch ends inside its frame
    }
    // Nothing may follow the frame, and the frame must have made the whole file.
    if (fed != bytes.size() || made != length) return std::nullopt;
    return hash.Started() ? hash.Finish(length) : here.Final();
}

}  // namespace

std::optional<Sha256Digest> ApplyPatch(const std::string& sourcePath, const std::string& patchPath,
                                       const PatchOutput& out) {
    const MappedFile source(sourcePath);
    const MappedFile patch(patchPath);
    if (!source.Ok() || !patch.Ok()) return std::nullopt;
    const int flags = O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | (out.Replace ? O_TRUNC : O_EXCL);
    const int fd = ::open(out.Path.c_str(), flags, 0644);
    if (fd < 0) return std::nullopt;
    std::optional<Sha256Digest> digest = Decode(source, patch, fd, out.Length);
    if (digest && out.Mode != 0 && ::fchmod(fd, static_cast<mode_t>(out.Mode)) != 0) digest.reset();
    if (digest && out.Sync && ::fsync(fd) != 0) digest.reset();
    if (::close(fd) != 0) digest.reset();
    if (!digest) ::unlink(out.Path.c_str());
    return digest;
}

}  // namespace toval
