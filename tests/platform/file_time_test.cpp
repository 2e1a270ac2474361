#include "platform/file_time.h"

#include <cerrno>

#include <gtest/gtest.h>

#include "platform/status.h"

namespace toval {
namespace {

constexpr uint64_t kUnixEpochTicks = 116444736000000000ull;

TEST(FileTime, FromTimespec) {
    struct Case {
        time_t sec;
        long nsec;
        uint64_t ticks;
    };
    const Case cases[] = {
        {0, 0, kUnixEpochTicks},
        {0, 99, kUnixEpochTicks},  // below one tick: truncated
        {0, 100, kUnixEpochTicks + 1},
        {0, 999999999, kUnixEpochTicks + 9999999},
        {1, 0, kUnixEpochTicks + 10000000},
        {-1, 0, kUnixEpochTicks - 10000000},
        {-11644473600, 0, 0},  // 1601-01-01
        {-11644473601, 0, 0},  // earlier clamps
        {INT64_MIN, 0, 0},
        {INT64_MAX, 999999999, UINT64_MAX},  // later clamps
        {1700000000, 123456789, kUnixEpochTicks + 17000000001234567ull},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FileTimeToU64(FileTimeFromTimespec(timespec{c.sec, c.nsec})), c.ticks)
            << c.sec << "." << c.nsec;
}

TEST(Status, FromError) {
    struct Case {
        int32_t error;
        uint32_t status;
    };
    const Case cases[] = {{2, 0x80070002u}, {1813, 0x80070715u}, {0x12345, 0x80072345u},
                          {0, 0x80004005u}, {-5, 0xFFFFFFFBu},   {INT32_MIN, 0x80000000u}};
    for (const Case& c : cases) {
        EXPECT_EQ(static_cast<uint32_t>(StatusFromError(c.error)), c.status) << c.error;
        EXPECT_LT(StatusFromError(c.error), 0);
    }
    errno = ENOENT;
    EXPECT_EQ(static_cast<uint32_t>(LastErrorStatus()), 0x80070002u);
}

}  // namespace
}  // namespace toval
