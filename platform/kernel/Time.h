// The clock and the FILETIME / SYSTEMTIME conversions under their Win32 names.
//
// FILETIME counts 100-nanosecond ticks since 1601-01-01 00:00 UTC; SYSTEMTIME
// holds the calendar fields of the proleptic Gregorian calendar.  Local time
// follows the process's time-zone rules (TZ, else /etc/localtime).
//
// Every function may be called from any thread.  Failures set the last error;
// the functions that cannot fail say so.
#pragma once

#include "platform/PlatformExport.h"
#include "platform/WinError.h"
#include "platform/WinTypes.h"

using LPFILETIME = FILETIME*;
using LPSYSTEMTIME = SYSTEMTIME*;

extern "C" {

// The current UTC time.  Never fails.
VPLATFORM_API void GetSystemTimeAsFileTime(LPFILETIME lpSystemTimeAsFileTime);
// The current UTC and local times, to the millisecond.  Never fail: when the
// time-zone rules cannot be read, GetLocalTime gives UTC.  A leap second shows
// as second 59.
VPLATFORM_API void GetSystemTime(LPSYSTEMTIME lpSystemTime);
VPLATFORM_API void GetLocalTime(LPSYSTEMTIME lpSystemTime);

// Splits a FILETIME into calendar fields (wDayOfWeek 0 = Sunday).  FALSE with
// ERROR_INVALID_PARAMETER for a null argument or a time at or beyond 2^63
// ticks.
VPLATFORM_API BOOL FileTimeToSystemTime(const FILETIME* lpFileTime, LPSYSTEMTIME lpSystemTime);
// The reverse; wDayOfWeek is ignored.  FALSE with ERROR_INVALID_PARAMETER for a
// null argument or a field out of range (year 1601..30827, month 1..12, a day
// the month has, hour < 24, minute < 60, second < 60, milliseconds < 1000).
VPLATFORM_API BOOL SystemTimeToFileTime(const SYSTEMTIME* lpSystemTime, LPFILETIME lpFileTime);
// Convert between UTC and local time with the offset from UTC in force now
// (daylight saving time included when it is in force now, whatever the date
// converted), as Windows does.  FALSE with ERROR_INVALID_PARAMETER for a null
// argument or a result outside 0..2^63-1 ticks.
VPLATFORM_API BOOL FileTimeToLocalFileTime(const FILETIME* lpFileTime, LPFILETIME lpLocalFileTime);
VPLATFORM_API BOOL LocalFileTimeToFileTime(const FILETIME* lpLocalFileTime, LPFILETIME lpFileTime);

// Milliseconds since the system started, from the coarse monotonic clock (a
// few milliseconds' resolution, as on Windows); the clock that stamps posted
// messages (MSG::time), so the two agree.  Unlike Windows, the count stands
// still while the machine sleeps.  GetTickCount is the low 32 bits (it wraps
// after 49.7 days).  Never fail.
VPLATFORM_API ULONGLONG GetTickCount64();
VPLATFORM_API DWORD GetTickCount();
}

namespace vplatform {

// A FILETIME as one count of ticks, and back: the two halves joined as Windows
// code joins them through ULARGE_INTEGER.
constexpr ULONGLONG FileTimeTicks(const FILETIME& time) noexcept {
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

constexpr FILETIME FileTimeFromTicks(ULONGLONG ticks) noexcept {
    return {static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}

}  // namespace vplatform
