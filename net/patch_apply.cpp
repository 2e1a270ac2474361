#include "net/patch_apply.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zstd.h>

#include <memory>

#include "platform/mapped_file.h"

namespace toval {

namespace {

struct DCtxFree {
    void operator()(ZSTD_DCtx* d) const { ZSTD_freeDCtx(d); }
};

// The largest window a patch may use: zstd's limit on 64-bit systems (ZSTD_WINDOWLOG_MAX_64).
// Decoding into the mapped result needs no window buffer of its own, whatever the size.
constexpr int kMaxWindowLog = 31;

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
    if (!out.Ok() || !dctx ||
        ZSTD_isError(ZSTD_DCtx_setParameter(dctx.get(), ZSTD_d_windowLogMax, kMaxWindowLog)) ||
        ZSTD_isError(ZSTD_DCtx_refPrefix(dctx.get(), source.Bytes().data(), source.Bytes().size())))
        return std::nullopt;
    const size_t made =
        ZSTD_decompressDCtx(dctx.get(), out.Data, out.Length, bytes.data(), bytes.size());
    if (ZSTD_isError(made) || made != length) return std::nullopt;
    Sha256 hash;
    hash.Update(out.Data, out.Length);
    return hash.Final();
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
