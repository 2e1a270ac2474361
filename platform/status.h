#pragma once
// Negative statuses in the HRESULT manner, so callers only ever test the sign.

#include <cstdint>

namespace toval {

// 0x80070000 | (e & 0xFFFF) for a positive error code, e itself when negative,
// 0x80004005 (unspecified failure) when there is no error code at all.
int32_t StatusFromError(int32_t e);

// StatusFromError of the calling thread's errno.
int32_t LastErrorStatus();

}  // namespace toval
