// The clock and the time-zone rules of the platform, read through the
// system-call table (so tests can fix the time or fail the zone lookup).
// Defined in kernel/time.cpp.
#pragma once

#include <time.h>

#include <cstdint>

namespace vplatform::clock {

// The current UTC time (CLOCK_REALTIME).
timespec Now() noexcept;

// The local calendar time of `time`; false when the zone rules cannot give
// one.
bool LocalCalendar(time_t time, struct tm& out) noexcept;

// The offset of local time from UTC in force now, in seconds (0 when the zone
// rules cannot give one).
std::int64_t CurrentUtcOffset() noexcept;

}  // namespace vplatform::clock
