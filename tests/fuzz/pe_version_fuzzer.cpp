// Feeds arbitrary bytes to the PE version reader: it must end in a status, never a crash, hang or
// read outside the buffer; on success the fixed info it hands back carries the signature.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "platform/pe_version.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    toval::VS_FIXEDFILEINFO info;
    if (toval::ReadFixedFileInfo(std::span<const uint8_t>(data, size), info) == 0 &&
        info.dwSignature != toval::VS_FFI_SIGNATURE)
        std::abort();
    return 0;
}
