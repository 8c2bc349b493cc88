// The clock and the FILETIME / SYSTEMTIME conversions: the Windows epoch,
// calendar fields, local time, and the clock and zone rules read through the
// system-call table.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <ctime>

#include "platform/kernel/Threads.h"
#include "platform/kernel/Time.h"
#include "platform/user/Messages.h"
#include "tests/support/EnvScope.h"
#include "tests/support/LastError.h"
#include "tests/support/Seam.h"

namespace {

using vlibtest::FailsWith;
using vplatform::FileTimeFromTicks;
using vplatform::FileTimeTicks;

// wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds.
std::vector<WORD> Fields(const SYSTEMTIME& t) {
    return {t.wYear, t.wMonth, t.wDayOfWeek, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

TEST(Time, CalendarConversionsFollowTheWindowsEpoch) {
    const SYSTEMTIME unixEpoch{1970, 1, 0, 1, 0, 0, 0, 0}, leap{2000, 2, 0, 29, 23, 59, 58, 999};
    FILETIME ft{};
    SYSTEMTIME back{};
    ASSERT_TRUE(SystemTimeToFileTime(&unixEpoch, &ft));
    EXPECT_EQ(FileTimeTicks(ft), 116'444'736'000'000'000ull);
    ASSERT_TRUE(SystemTimeToFileTime(&leap, &ft) && FileTimeToSystemTime(&ft, &back));
    EXPECT_EQ(Fields(back), (std::vector<WORD>{2000, 2, 2, 29, 23, 59, 58, 999}));  // a Tuesday
    const FILETIME zero{0, 0}, tooLate = FileTimeFromTicks(1ull << 63);
    ASSERT_TRUE(FileTimeToSystemTime(&zero, &back));
    EXPECT_EQ(Fields(back), (std::vector<WORD>{1601, 1, 1, 1, 0, 0, 0, 0}));  // a Monday
    const SYSTEMTIME noSuchDay{2001, 2, 0, 29, 0, 0, 0, 0};
    EXPECT_TRUE(FailsWith(ERROR_INVALID_PARAMETER, [&] { return SystemTimeToFileTime(&noSuchDay, &ft); }));
    EXPECT_TRUE(FailsWith(ERROR_INVALID_PARAMETER, [&] { return FileTimeToSystemTime(&tooLate, &back); }));
    // GetLocalTime and GetSystemTime are the same instant, within 5 s.
    SYSTEMTIME utc{}, local{};
    GetSystemTime(&utc);
    GetLocalTime(&local);
    FILETIME utcTicks{}, localTicks{}, converted{};
    ASSERT_TRUE(SystemTimeToFileTime(&utc, &utcTicks) && SystemTimeToFileTime(&local, &localTicks));
    ASSERT_TRUE(FileTimeToLocalFileTime(&utcTicks, &converted));
    EXPECT_LT(std::llabs(static_cast<std::int64_t>(FileTimeTicks(converted) - FileTimeTicks(localTicks))), 50'000'000);
}

TEST(Time, LocalTimeIsAheadOfUtcEastOfGreenwich) {
    {
        const vlibtest::EnvScope zone("TZ", "XST-2");  // two hours east of UTC, no daylight saving time
        tzset();
        const FILETIME utc = FileTimeFromTicks(132'000'000'000'000'000ull);
        const FILETIME last = FileTimeFromTicks((1ull << 63) - 1), first = FileTimeFromTicks(0);
        FILETIME local{}, back{};
        EXPECT_TRUE(FileTimeToLocalFileTime(&utc, &local));
        EXPECT_EQ(FileTimeTicks(local) - FileTimeTicks(utc), 2ull * 3600 * 10'000'000);
        EXPECT_TRUE(LocalFileTimeToFileTime(&local, &back));
        EXPECT_EQ(FileTimeTicks(back), FileTimeTicks(utc));
        EXPECT_TRUE(FailsWith(ERROR_INVALID_PARAMETER, [&] { return FileTimeToLocalFileTime(&last, &local); }));
        EXPECT_TRUE(FailsWith(ERROR_INVALID_PARAMETER, [&] { return LocalFileTimeToFileTime(&first, &back); }));
    }
    tzset();
}

// The clock fixed at 2024-02-29 12:34:56.789654321 UTC; without zone rules
// local time is UTC, and nothing fails.
TEST(Time, TheClockAndTheZoneRulesComeThroughTheSyscallTable) {
    const vlibtest::SeamScope seam([](auto& s) {
        s.clock_gettime = [](clockid_t, timespec* now) { return *now = {1'709'210'096, 789'654'321}, 0; };
        s.localtime_r = [](const time_t*, struct tm*) -> struct tm* {
            return errno = ENOENT, nullptr;
        };
    });
    FILETIME now{}, shifted{};
    GetSystemTimeAsFileTime(&now);
    EXPECT_EQ(FileTimeTicks(now), (1'709'210'096ull + 11'644'473'600ull) * 10'000'000ull + 7'896'543ull);
    SYSTEMTIME utc{}, local{};
    GetSystemTime(&utc);
    EXPECT_EQ(Fields(utc), (std::vector<WORD>{2024, 2, 4, 29, 12, 34, 56, 789}));  // a Thursday
    EXPECT_TRUE(vlibtest::SucceedsQuietly([&] {
        GetLocalTime(&local);
        return FileTimeToLocalFileTime(&now, &shifted);
    }));
    EXPECT_EQ(Fields(local), Fields(utc));
    EXPECT_EQ(FileTimeTicks(shifted), FileTimeTicks(now));
}

// The tick counts are the coarse monotonic clock's milliseconds, the count
// that stamps posted messages; the 32-bit count wraps.
TEST(Time, TickCountsReadTheClockThatStampsMessages) {
    const vlibtest::SeamScope seam([](auto& s) {
        s.clock_gettime = [](clockid_t clock, timespec* now) {
            if (clock != CLOCK_MONOTONIC_COARSE) return vplatform::test::RealSyscalls().clock_gettime(clock, now);
            return *now = {4'294'968, 123'999'999}, 0;
        };
    });
    EXPECT_EQ(GetTickCount64(), 4'294'968'123ull);
    EXPECT_EQ(GetTickCount(), 4'294'968'123ull - (1ull << 32));
    ASSERT_TRUE(PostThreadMessageW(GetCurrentThreadId(), WM_USER, 0, 0));
    MSG msg{};
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_REMOVE));
    EXPECT_EQ(msg.time, GetTickCount());
}

}  // namespace
