# The Windows build, brought up layer by layer on top of the libraries scripts/windows-deps
# cross-builds (TOVAL_WINDOWS_DEPS). So far: the parts of platform/ that are the same on both
# systems or have their Windows back end (NAME_windows.cpp), with their tests, which ctest runs
# under Wine.
if(NOT TOVAL_WINDOWS_DEPS)
    message(FATAL_ERROR "set TOVAL_WINDOWS_DEPS to the prefix scripts/windows-deps prints")
endif()
find_library(TOVAL_SODIUM_LIBRARY sodium REQUIRED)

add_library(toval_platform STATIC
    platform/crypto_common.cpp platform/crypto_sodium.cpp platform/debug_output.cpp
    platform/directories_windows.cpp platform/disk_space.cpp platform/disk_space_windows.cpp
    platform/file_read_windows.cpp platform/file_time.cpp
    platform/mapped_file.cpp platform/mapped_file_windows.cpp platform/pe_version.cpp
    platform/pe_version_windows.cpp platform/run_lock_windows.cpp
    platform/shell_words.cpp platform/state_directory.cpp platform/status.cpp
    platform/temp_file_windows.cpp platform/termination_windows.cpp platform/text.cpp
    platform/wide_text_windows.cpp)
target_compile_definitions(toval_platform PUBLIC SODIUM_STATIC)
target_include_directories(toval_platform PUBLIC ${CMAKE_SOURCE_DIR} ${TOVAL_WINDOWS_DEPS}/include)
target_link_libraries(toval_platform PUBLIC ${TOVAL_SODIUM_LIBRARY} Threads::Threads)

if(TOVAL_TESTS)
    enable_testing()
    find_package(GTest REQUIRED)
    # The same test files as on Linux; one ctest entry per program, run through the emulator.
    add_executable(platform_tests
        tests/platform/crypto_test.cpp tests/platform/disk_space_test.cpp
        tests/platform/file_access_test.cpp
        tests/platform/file_time_test.cpp tests/platform/pe_file_test.cpp
        tests/platform/run_lock_test.cpp tests/support/PeBuilder.cpp
        tests/platform/shell_words_test.cpp tests/platform/text_test.cpp)
    target_link_libraries(platform_tests PRIVATE toval_platform GTest::gtest_main GTest::gmock)
    add_test(NAME platform_tests COMMAND platform_tests)
    set_tests_properties(platform_tests PROPERTIES ENVIRONMENT "WINEDEBUG=-all" TIMEOUT 300)
endif()
