#include "catalog/file_probe.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/pe_version.h"
#include "platform/status.h"

namespace toval {

namespace {

// The version walk reads a few small pieces near each other: a window of the file kept in memory
// turns the headers, the section table and a compact resource section into one or two reads.
class WindowedImage : public ImageSource {
  public:
    WindowedImage(const LocalFile& file, uint64_t size) : File(file), FileSize(size) {}

    bool ReadAt(uint64_t offset, void* buffer, std::size_t size) override {
        if (offset > FileSize || size > FileSize - offset) return false;
        auto* out = static_cast<uint8_t*>(buffer);
        if (size > kWindowSize) return ReadExactly(out, size, offset);
        if (WindowLength == 0 || offset < WindowOffset ||
            offset + size > WindowOffset + WindowLength) {
            const auto length =
                static_cast<std::size_t>(std::min<uint64_t>(kWindowSize, FileSize - offset));
            WindowLength = 0;
            if (!ReadExactly(Window, length, offset)) return false;
            WindowOffset = offset;
            WindowLength = length;
        }
        std::memcpy(out, Window + (offset - WindowOffset), size);
        return true;
    }
    uint64_t Size() const override { return FileSize; }

  private:
    bool ReadExactly(uint8_t* out, std::size_t size, uint64_t offset) const {
        while (size > 0) {
            const int64_t n = File.ReadAt(out, size, offset);
            if (n <= 0) return false;  // an error, or the file shrank under us
            out += n;
            size -= static_cast<std::size_t>(n);
            offset += static_cast<uint64_t>(n);
        }
        return true;
    }

    static constexpr std::size_t kWindowSize = 1024;
    const LocalFile& File;
    uint64_t FileSize;
    uint64_t WindowOffset = 0;
    std::size_t WindowLength = 0;
    uint8_t Window[kWindowSize];
};

}  // namespace

LocalFile::LocalFile(const std::string& path) : File(FileHandle::Open(path, OpenFor::Read)) {
    if (const auto stamp = StampOf(File))
        Stamp = *stamp;
    else
        File.Close();
}

LocalFile::LocalFile(const std::string& path, WithIdentity)
    : File(FileHandle::Open(path, OpenFor::Read)) {
    if (const auto known = IdentifyFile(File)) {
        Stamp = known->Stamp;
        Id = known->Identity;
    } else {
        File.Close();
    }
}

LocalFile::LocalFile(FileHandle file, const IdentifiedFile& known)
    : File(std::move(file)), Stamp(known.Stamp), Id(known.Identity) {}

int32_t LocalFile::ReadVersion(VS_FIXEDFILEINFO& out) const {
    if (!IsOpen()) return StatusFromError(0);
    WindowedImage image(*this, Stamp.Size);
    return ReadFixedFileInfo(image, out);
}

std::optional<Sha256Digest> HashLocalFile(const LocalFile& file, std::vector<uint8_t>& buffer) {
    // Large reads: a client's packs run to gigabytes, and the hash, not the calls, should cost.
    constexpr std::size_t kChunk = 1 << 20;
    if (!file.IsOpen()) return std::nullopt;
    if (buffer.size() < kChunk) buffer.resize(kChunk);
    Sha256 hash;
    for (uint64_t offset = 0; offset < file.Size();) {
        const auto want =
            static_cast<std::size_t>(std::min<uint64_t>(kChunk, file.Size() - offset));
        const int64_t n = file.ReadAt(buffer.data(), want, offset);
        if (n <= 0) return std::nullopt;  // an error, or the file shrank under us
        hash.Update(buffer.data(), static_cast<std::size_t>(n));
        offset += static_cast<uint64_t>(n);
    }
    return hash.Final();
}

bool FileExists(const std::string& path) { return LocalFile(path).IsOpen(); }

int32_t ReadFileDate(const std::string& path, FILETIME& out) {
    const LocalFile file(path);
    // Which of the reasons it was (none there, not a file, no access) changes nothing for a
    // caller: the file counts as absent.
    if (!file.IsOpen()) return StatusFromError(0);
    out = file.LastWrite();
    return 0;
}

}  // namespace toval
