#include "tools/catalog_gzip.h"

#include <iostream>

#include "platform/file_handle.h"
#include "tools/catalog_signing.h"

#ifdef TOVAL_HAVE_ZLIB
#include <zlib.h>
#endif

namespace toval::catalog_tool {

namespace {
#ifdef TOVAL_HAVE_ZLIB
// The whole text in one gzip member, at the best compression: a catalogue is written once and
// fetched by every player. The header carries no name and no time, so equal catalogues give
// equal copies.
std::optional<std::string> Gzip(std::string_view text) {
    z_stream stream{};
    if (deflateInit2(&stream, 9, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        return std::nullopt;
    std::string out(deflateBound(&stream, static_cast<uLong>(text.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int result = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    if (result != Z_STREAM_END) return std::nullopt;
    return out;
}
#endif
}  // namespace

Stop WriteGzipCopy(const std::string& path, std::string_view catalogue) {
#ifdef TOVAL_HAVE_ZLIB
    const std::optional<std::string> packed = Gzip(catalogue);
    const std::string temp = path + ".new";
    RemoveFile(temp);
    if (!packed || !WriteNewFile(temp, *packed, 0644) || !RenameOver(temp, path)) {
        RemoveFile(temp);
        return Failed(path + ": cannot be written");
    }
    return {};
#else
    (void)catalogue;
    if (ExaminePath(path).Kind == PathKind::Missing) return {};
    if (!RemoveFile(path)) return Failed(path + ": an earlier catalogue's copy; cannot be removed");
    std::cerr << "toval-catalog: removed " << path
              << ", an earlier catalogue's compressed copy (this build writes none)\n";
    return {};
#endif
}

}  // namespace toval::catalog_tool
