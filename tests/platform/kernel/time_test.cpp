// The clock and the FILETIME / SYSTEMTIME conversions: the Windows epoch,
// calendar fields, local time, and the clock and zone rules read through the
// system-call table.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/internal/Syscalls.h"
#include "platform/kernel/Time.h"

namespace {

using vplatform::FileTimeFromTicks;
using vplatform::FileTimeTicks;

constexpr DWORD kSentinel = 0xdeadbeef;

TEST(Time, CalendarConversionsFollowTheWindowsEpoch) {
    SYSTEMTIME unixEpoch{1970, 1, 0, 1, 0, 0, 0, 0};
    FILETIME ft{};
    ASSERT_TRUE(SystemTimeToFileTime(&unixEpoch, &ft));
    EXPECT_EQ(FileTimeTicks(ft), 116'444'736'000'000'000ull);

    const SYSTEMTIME leap{2000, 2, 0, 29, 23, 59, 58, 999};
    ASSERT_TRUE(SystemTimeToFileTime(&leap, &ft));
    SYSTEMTIME back{};
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &back));
    EXPECT_EQ(back.wYear, 2000);
    EXPECT_EQ(back.wMonth, 2);
    EXPECT_EQ(back.wDay, 29);
    EXPECT_EQ(back.wDayOfWeek, 2);  // a Tuesday
    EXPECT_EQ(back.wHour, 23);
    EXPECT_EQ(back.wSecond, 58);
    EXPECT_EQ(back.wMilliseconds, 999);

    FILETIME zero{0, 0};
    ASSERT_TRUE(FileTimeToSystemTime(&zero, &back));
    EXPECT_EQ(back.wYear, 1601);
    EXPECT_EQ(back.wDayOfWeek, 1);  // 1601-01-01 was a Monday

    SetLastError(kSentinel);
    const SYSTEMTIME noSuchDay{2001, 2, 0, 29, 0, 0, 0, 0};
    EXPECT_FALSE(SystemTimeToFileTime(&noSuchDay, &ft));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    const FILETIME tooLate = FileTimeFromTicks(1ull << 63);
    EXPECT_FALSE(FileTimeToSystemTime(&tooLate, &back));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    SYSTEMTIME utc{}, local{};
    GetSystemTime(&utc);
    GetLocalTime(&local);
    FILETIME utcTicks{}, localTicks{}, converted{};
    ASSERT_TRUE(SystemTimeToFileTime(&utc, &utcTicks));
    ASSERT_TRUE(SystemTimeToFileTime(&local, &localTicks));
    ASSERT_TRUE(FileTimeToLocalFileTime(&utcTicks, &converted));
    const auto difference = static_cast<std::int64_t>(FileTimeTicks(converted) - FileTimeTicks(localTicks));
    EXPECT_LT(std::llabs(difference), 50'000'000);  // the same instant, within 5 s
}

TEST(Time, LocalTimeIsAheadOfUtcEastOfGreenwich) {
    const char* saved = std::getenv("TZ");
    const std::string restore = saved != nullptr ? saved : "";
    setenv("TZ", "XST-2", 1);  // two hours east of UTC, no daylight saving time
    tzset();
    const FILETIME utc = FileTimeFromTicks(132'000'000'000'000'000ull);
    FILETIME local{}, back{};
    EXPECT_TRUE(FileTimeToLocalFileTime(&utc, &local));
    EXPECT_EQ(FileTimeTicks(local) - FileTimeTicks(utc), 2ull * 3600 * 10'000'000);
    EXPECT_TRUE(LocalFileTimeToFileTime(&local, &back));
    EXPECT_EQ(FileTimeTicks(back), FileTimeTicks(utc));
    const FILETIME last = FileTimeFromTicks((1ull << 63) - 1);
    SetLastError(kSentinel);
    EXPECT_FALSE(FileTimeToLocalFileTime(&last, &local));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    const FILETIME first = FileTimeFromTicks(0);
    EXPECT_FALSE(LocalFileTimeToFileTime(&first, &back));
    if (saved != nullptr) {
        setenv("TZ", restore.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
}

// 2024-02-29 12:34:56.789 UTC, for a clock that a test fixes.
int FixedClock(clockid_t, timespec* now) {
    now->tv_sec = 1'709'210'096;
    now->tv_nsec = 789'654'321;
    return 0;
}

struct tm* NoZoneRules(const time_t*, struct tm*) {
    errno = ENOENT;
    return nullptr;
}

TEST(Time, TheClockAndTheZoneRulesComeThroughTheSyscallTable) {
    vplatform::Syscalls table = vplatform::test::RealSyscalls();
    table.clock_gettime = FixedClock;
    table.localtime_r = NoZoneRules;
    const vplatform::test::ScopedSyscallsForTesting scope(table);

    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    EXPECT_EQ(FileTimeTicks(now), (1'709'210'096ull + 11'644'473'600ull) * 10'000'000ull + 7'896'543ull);
    SYSTEMTIME utc{}, local{};
    GetSystemTime(&utc);
    EXPECT_EQ(utc.wYear, 2024);
    EXPECT_EQ(utc.wMonth, 2);
    EXPECT_EQ(utc.wDay, 29);
    EXPECT_EQ(utc.wDayOfWeek, 4);  // a Thursday
    EXPECT_EQ(utc.wHour, 12);
    EXPECT_EQ(utc.wMinute, 34);
    EXPECT_EQ(utc.wSecond, 56);
    EXPECT_EQ(utc.wMilliseconds, 789);
    // Without zone rules local time is UTC, and nothing fails.
    SetLastError(kSentinel);
    GetLocalTime(&local);
    EXPECT_EQ(std::memcmp(&local, &utc, sizeof utc), 0);
    FILETIME shifted{};
    EXPECT_TRUE(FileTimeToLocalFileTime(&now, &shifted));
    EXPECT_EQ(FileTimeTicks(shifted), FileTimeTicks(now));
    EXPECT_EQ(GetLastError(), kSentinel);
}

}  // namespace
