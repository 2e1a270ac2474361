#pragma once
// The Windows value types that the update catalogue and the version resources are made of.
// They keep their Windows names and layouts so that catalogue values compare as published.

#include <cstddef>
#include <cstdint>

namespace toval {

// 100-ns intervals since 1601-01-01 00:00 UTC, split into two 32-bit words.
struct FILETIME {
    uint32_t dwLowDateTime = 0;
    uint32_t dwHighDateTime = 0;
};

inline uint64_t FileTimeToU64(const FILETIME& t) {
    return (uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime;
}

inline FILETIME FileTimeFromU64(uint64_t v) {
    return FILETIME{static_cast<uint32_t>(v), static_cast<uint32_t>(v >> 32)};
}

// The 52-byte fixed part of a PE version resource.
struct VS_FIXEDFILEINFO {
    uint32_t dwSignature = 0;
    uint32_t dwStrucVersion = 0;
    uint32_t dwFileVersionMS = 0;
    uint32_t dwFileVersionLS = 0;
    uint32_t dwProductVersionMS = 0;
    uint32_t dwProductVersionLS = 0;
    uint32_t dwFileFlagsMask = 0;
    uint32_t dwFileFlags = 0;
    uint32_t dwFileOS = 0;
    uint32_t dwFileType = 0;
    uint32_t dwFileSubtype = 0;
    uint32_t dwFileDateMS = 0;
    uint32_t dwFileDateLS = 0;
};
static_assert(sizeof(VS_FIXEDFILEINFO) == 52);

// <windows.h>, where it is included first, has these as macros of the same values.
#ifndef VS_FFI_SIGNATURE
constexpr uint32_t VS_FFI_SIGNATURE = 0xFEEF04BDu;
#endif
#ifndef MAX_PATH
constexpr std::size_t MAX_PATH = 260;
#endif

}  // namespace toval
