#include "platform/write_at.h"

namespace toval {

bool WriteAllAt(FileHandle& file, const void* data, size_t size, uint64_t) {
    return file.WriteAll(data, size);
}

}  // namespace toval
