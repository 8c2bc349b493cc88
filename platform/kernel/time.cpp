// The clock and the FILETIME / SYSTEMTIME conversions.
#include "platform/kernel/Time.h"

#include <cstdint>

#include "platform/internal/Calendar.h"
#include "platform/internal/Syscalls.h"
#include "platform/kernel/internal/Clock.h"

namespace vplatform {

namespace clock {

timespec Now() noexcept {
    timespec now{};
    Sys().clock_gettime(CLOCK_REALTIME, &now);
    return now;
}

bool LocalCalendar(time_t time, struct tm& out) noexcept {
    return Sys().localtime_r(&time, &out) != nullptr;
}

std::int64_t CurrentUtcOffset() noexcept {
    struct tm local {};
    return LocalCalendar(Now().tv_sec, local) ? local.tm_gmtoff : 0;
}

}  // namespace clock

namespace {

using namespace calendar;

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

void SystemTimeFromTicks(std::uint64_t ticks, SYSTEMTIME& out) {
    constexpr std::uint64_t kTicksPerDay = kSecondsPerDay * kTicksPerSecond;
    const auto days = static_cast<std::int64_t>(ticks / kTicksPerDay);
    std::uint64_t rest = ticks % kTicksPerDay;
    const Date date = CivilFromDays(days + kDays1601);
    out.wYear = static_cast<WORD>(date.year);
    out.wMonth = static_cast<WORD>(date.month);
    out.wDay = static_cast<WORD>(date.day);
    out.wDayOfWeek = static_cast<WORD>((days + 1) % 7);  // 1601-01-01 was a Monday
    out.wHour = static_cast<WORD>(rest / (3600ull * kTicksPerSecond));
    rest %= 3600ull * kTicksPerSecond;
    out.wMinute = static_cast<WORD>(rest / (60ull * kTicksPerSecond));
    rest %= 60ull * kTicksPerSecond;
    out.wSecond = static_cast<WORD>(rest / kTicksPerSecond);
    out.wMilliseconds = static_cast<WORD>((rest % kTicksPerSecond) / 10'000);
}

// Moves `ticks` by `seconds`; false when either end lies outside 0..2^63-1.
bool ShiftTicks(std::uint64_t ticks, std::int64_t seconds, std::uint64_t& out) {
    if (ticks > kMaxTicks) return false;
    std::int64_t shifted = 0;
    if (__builtin_add_overflow(static_cast<std::int64_t>(ticks), seconds * kTicksPerSecond, &shifted) || shifted < 0) {
        return false;
    }
    out = static_cast<std::uint64_t>(shifted);
    return true;
}

}  // namespace
}  // namespace vplatform

using namespace vplatform;

extern "C" {

ULONGLONG GetTickCount64() {
    timespec now{};
    Sys().clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return static_cast<ULONGLONG>(now.tv_sec) * 1000 + static_cast<ULONGLONG>(now.tv_nsec) / 1'000'000;
}

DWORD GetTickCount() {
    return static_cast<DWORD>(GetTickCount64());
}

void GetSystemTimeAsFileTime(LPFILETIME lpSystemTimeAsFileTime) {
    if (lpSystemTimeAsFileTime == nullptr) return;
    const timespec now = clock::Now();
    *lpSystemTimeAsFileTime = FileTimeFromTicks(calendar::TicksFromUnix(now.tv_sec, now.tv_nsec));
}

void GetSystemTime(LPSYSTEMTIME lpSystemTime) {
    if (lpSystemTime == nullptr) return;
    const timespec now = clock::Now();
    SystemTimeFromTicks(calendar::TicksFromUnix(now.tv_sec, now.tv_nsec), *lpSystemTime);
}

void GetLocalTime(LPSYSTEMTIME lpSystemTime) {
    if (lpSystemTime == nullptr) return;
    const timespec now = clock::Now();
    struct tm local {};
    if (!clock::LocalCalendar(now.tv_sec, local)) {
        SystemTimeFromTicks(calendar::TicksFromUnix(now.tv_sec, now.tv_nsec), *lpSystemTime);
        return;
    }
    lpSystemTime->wYear = static_cast<WORD>(local.tm_year + 1900);
    lpSystemTime->wMonth = static_cast<WORD>(local.tm_mon + 1);
    lpSystemTime->wDayOfWeek = static_cast<WORD>(local.tm_wday);
    lpSystemTime->wDay = static_cast<WORD>(local.tm_mday);
    lpSystemTime->wHour = static_cast<WORD>(local.tm_hour);
    lpSystemTime->wMinute = static_cast<WORD>(local.tm_min);
    // A leap second shows as the 59th, as SYSTEMTIME has no 60th.
    lpSystemTime->wSecond = static_cast<WORD>(local.tm_sec > 59 ? 59 : local.tm_sec);
    lpSystemTime->wMilliseconds = static_cast<WORD>(now.tv_nsec / 1'000'000);
}

BOOL FileTimeToSystemTime(const FILETIME* lpFileTime, LPSYSTEMTIME lpSystemTime) {
    if (lpFileTime == nullptr || lpSystemTime == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    const std::uint64_t ticks = FileTimeTicks(*lpFileTime);
    if (ticks > calendar::kMaxTicks) return Fail(ERROR_INVALID_PARAMETER);
    SystemTimeFromTicks(ticks, *lpSystemTime);
    return TRUE;
}

BOOL SystemTimeToFileTime(const SYSTEMTIME* lpSystemTime, LPFILETIME lpFileTime) {
    if (lpSystemTime == nullptr || lpFileTime == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    const SYSTEMTIME& t = *lpSystemTime;
    if (t.wYear < 1601 || t.wYear > 30827 || t.wMonth < 1 || t.wMonth > 12 || t.wHour > 23 || t.wMinute > 59 ||
        t.wSecond > 59 || t.wMilliseconds > 999 || t.wDay < 1 || t.wDay > calendar::DaysInMonth(t.wYear, t.wMonth)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const auto days =
        static_cast<std::uint64_t>(calendar::DaysFromCivil(t.wYear, t.wMonth, t.wDay) - calendar::kDays1601);
    const std::uint64_t seconds = days * 86'400 + t.wHour * 3600ull + t.wMinute * 60ull + t.wSecond;
    *lpFileTime = FileTimeFromTicks(seconds * calendar::kTicksPerSecond + t.wMilliseconds * 10'000ull);
    return TRUE;
}

BOOL FileTimeToLocalFileTime(const FILETIME* lpFileTime, LPFILETIME lpLocalFileTime) {
    if (lpFileTime == nullptr || lpLocalFileTime == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    std::uint64_t shifted = 0;
    if (!ShiftTicks(FileTimeTicks(*lpFileTime), clock::CurrentUtcOffset(), shifted)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    *lpLocalFileTime = FileTimeFromTicks(shifted);
    return TRUE;
}

BOOL LocalFileTimeToFileTime(const FILETIME* lpLocalFileTime, LPFILETIME lpFileTime) {
    if (lpLocalFileTime == nullptr || lpFileTime == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    std::uint64_t shifted = 0;
    if (!ShiftTicks(FileTimeTicks(*lpLocalFileTime), -clock::CurrentUtcOffset(), shifted)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    *lpFileTime = FileTimeFromTicks(shifted);
    return TRUE;
}
}
