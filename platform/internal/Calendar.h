// The one calendar of the platform: proleptic Gregorian dates as day counts,
// and the FILETIME scale (100-nanosecond ticks since 1601-01-01 00:00 UTC)
// against the Unix one.  Pure arithmetic, usable in constant expressions.
#pragma once

#include <time.h>

#include <cstdint>
#include <limits>

namespace vplatform::calendar {

constexpr std::int64_t kTicksPerSecond = 10'000'000;
constexpr std::int64_t kSecondsPerDay = 86'400;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kEpochOffsetSeconds = 11'644'473'600;
// FILETIME values at or above this are outside what Windows converts.
constexpr std::uint64_t kMaxTicks = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());

struct Date {
    std::int64_t year;
    unsigned month;  // 1..12
    unsigned day;    // 1..31
};

constexpr bool IsLeapYear(std::int64_t year) noexcept {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

constexpr unsigned DaysInMonth(std::int64_t year, unsigned month) noexcept {
    constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days since 1970-01-01 of a date (negative before it).
constexpr std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day) noexcept {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

// The date `days` days after 1970-01-01.
constexpr Date CivilFromDays(std::int64_t days) noexcept {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;
    const unsigned month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    return {static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0), month,
            dayOfYear - (153 * shiftedMonth + 2) / 5 + 1};
}

// Days from 1970-01-01 back to 1601-01-01 (negative).
constexpr std::int64_t kDays1601 = DaysFromCivil(1601, 1, 1);

// FILETIME ticks of a Unix time; times before 1601 become 0.
constexpr std::uint64_t TicksFromUnix(std::int64_t seconds, std::int64_t nanoseconds) noexcept {
    const std::int64_t since1601 = seconds + kEpochOffsetSeconds;
    if (since1601 < 0) return 0;
    return static_cast<std::uint64_t>(since1601) * kTicksPerSecond + static_cast<std::uint64_t>(nanoseconds / 100);
}

// The Unix time of FILETIME ticks below kMaxTicks.
constexpr timespec TimespecFromTicks(std::uint64_t ticks) noexcept {
    timespec out{};
    out.tv_sec = static_cast<time_t>(static_cast<std::int64_t>(ticks / kTicksPerSecond) - kEpochOffsetSeconds);
    out.tv_nsec = static_cast<long>((ticks % kTicksPerSecond) * 100);
    return out;
}

}  // namespace vplatform::calendar
