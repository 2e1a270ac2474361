# The Windows build's libraries: static builds that scripts/windows-deps cross-compiled into
# TOVAL_WINDOWS_DEPS. Each gets the name the Linux build's pkg-config module has, so that the
# layers' own CMakeLists serve both systems unchanged.
if(NOT TOVAL_WINDOWS_DEPS)
    message(FATAL_ERROR "set TOVAL_WINDOWS_DEPS to the prefix scripts/windows-deps prints")
endif()

function(toval_windows_library name library)
    find_library(TOVAL_${name}_FILE ${library} REQUIRED)
    add_library(PkgConfig::${name} INTERFACE IMPORTED GLOBAL)
    target_link_libraries(PkgConfig::${name} INTERFACE ${TOVAL_${name}_FILE} ${ARGN})
    target_include_directories(PkgConfig::${name} INTERFACE ${TOVAL_WINDOWS_DEPS}/include)
endfunction()

toval_windows_library(LIBXML2 xml2 ws2_32)
target_include_directories(PkgConfig::LIBXML2 INTERFACE ${TOVAL_WINDOWS_DEPS}/include/libxml2)
target_compile_definitions(PkgConfig::LIBXML2 INTERFACE LIBXML_STATIC)
# libcurl speaks HTTP/2 through nghttp2, a static library of its own that must follow it. A
# cache made before scripts/windows-deps built nghttp2 has neither, and still links.
find_library(TOVAL_NGHTTP2_FILE nghttp2)
set(toval_nghttp2 "")
if(TOVAL_NGHTTP2_FILE)
    set(toval_nghttp2 ${TOVAL_NGHTTP2_FILE})
endif()
toval_windows_library(LIBCURL curl ${toval_nghttp2} ws2_32 crypt32 secur32 bcrypt advapi32 wldap32
                      normaliz)
target_compile_definitions(PkgConfig::LIBCURL INTERFACE CURL_STATICLIB)
toval_windows_library(LIBZSTD zstd)
toval_windows_library(LIBSODIUM sodium)
target_compile_definitions(PkgConfig::LIBSODIUM INTERFACE SODIUM_STATIC)
