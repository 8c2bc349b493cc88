// COleDateTime and COleDateTimeSpan: the MFC date classes over the OLE date.
//
// An OLE date (DATE) is a double counting days since midnight of 30 December
// 1899; the fractional part is the time of day.  Before that day the integer
// part is negative and the fraction still counts forward from the start of the
// integer day: -1.25 is 29 December 1899 06:00, -0.5 is 30 December 1899
// 12:00.  Dates from 1 January 100 (-657434) to the last second of
// 31 December 9999 (2958465.99999) can be taken apart into calendar fields;
// the calendar is the proleptic Gregorian one.
//
// Both classes carry a status: valid, invalid (the result of bad input or of
// arithmetic that left the range) or null (no value).  The calendar members
// (GetYear…GetDayOfYear, GetAsSystemTime) round the time to the nearest second
// and fail with AFX_OLE_DATETIME_ERROR (or FALSE) when the status is not valid
// or the date is outside the range above.  Nothing here throws.
//
// Arithmetic is done on the linear form of a date (days as a plain signed
// number, so that -1.25 counts as -0.75), which makes a span added to a date
// before 1900 move it the expected way.
//
// Threads: value classes with no shared state: one object is used by one
// thread at a time (or read by several).  GetCurrentTime and the time_t
// constructor read the process's zone rules, from any thread, as long as TZ is
// not changed meanwhile.
#pragma once

#include <ctime>

#include "platform/PlatformExport.h"
#include "platform/WinTypes.h"
#include "platform/mfc/AfxString.h"

using DATE = double;

// The result of a calendar member for a date that cannot be taken apart.
constexpr int AFX_OLE_DATETIME_ERROR = -1;

class VPLATFORM_API COleDateTimeSpan {
public:
    enum DateTimeSpanStatus { valid = 0, invalid = 1, null = 2 };

    // A zero span, valid.
    constexpr COleDateTimeSpan() noexcept = default;
    // `days` days (fractions are parts of a day), valid.
    constexpr COleDateTimeSpan(double days) noexcept : m_span(days) {}
    // days + hours + minutes + seconds; any part may be negative or exceed its
    // usual range.
    COleDateTimeSpan(LONG days, int hours, int minutes, int seconds) noexcept;

    DateTimeSpanStatus GetStatus() const noexcept { return m_status; }
    void SetStatus(DateTimeSpanStatus status) noexcept { m_status = status; }
    void SetDateTimeSpan(LONG days, int hours, int minutes, int seconds) noexcept;

    // The parts of the span rounded to the nearest second; each has the sign
    // of the span: whole days, then hours (-23..23), minutes and seconds
    // (-59..59) left over.
    LONG GetDays() const noexcept;
    LONG GetHours() const noexcept;
    LONG GetMinutes() const noexcept;
    LONG GetSeconds() const noexcept;
    // The whole span in the unit, fractions included (not rounded).
    double GetTotalDays() const noexcept { return m_span; }
    double GetTotalHours() const noexcept { return m_span * 24.0; }
    double GetTotalMinutes() const noexcept { return m_span * 24.0 * 60.0; }
    double GetTotalSeconds() const noexcept { return m_span * 24.0 * 60.0 * 60.0; }

    operator double() const noexcept { return m_span; }

    // Results of arithmetic are invalid when an operand is invalid, otherwise
    // null when an operand is null.
    COleDateTimeSpan operator+(const COleDateTimeSpan& other) const noexcept;
    COleDateTimeSpan operator-(const COleDateTimeSpan& other) const noexcept;
    COleDateTimeSpan operator-() const noexcept;
    COleDateTimeSpan& operator+=(const COleDateTimeSpan& other) noexcept { return *this = *this + other; }
    COleDateTimeSpan& operator-=(const COleDateTimeSpan& other) noexcept { return *this = *this - other; }

    // Two spans are equal when both are valid and of the same length, or both
    // are not valid and have the same status.  The order compares lengths.
    bool operator==(const COleDateTimeSpan& other) const noexcept;
    bool operator!=(const COleDateTimeSpan& other) const noexcept { return !(*this == other); }
    bool operator<(const COleDateTimeSpan& other) const noexcept { return m_span < other.m_span; }
    bool operator>(const COleDateTimeSpan& other) const noexcept { return m_span > other.m_span; }
    bool operator<=(const COleDateTimeSpan& other) const noexcept { return m_span <= other.m_span; }
    bool operator>=(const COleDateTimeSpan& other) const noexcept { return m_span >= other.m_span; }

    double m_span = 0.0;
    DateTimeSpanStatus m_status = valid;
};

class VPLATFORM_API COleDateTime {
public:
    enum DateTimeStatus { error = -1, valid = 0, invalid = 1, null = 2 };

    // The local date and time now, to the second.
    static COleDateTime GetCurrentTime() noexcept;

    // 30 December 1899 00:00 (0.0), valid.
    constexpr COleDateTime() noexcept = default;
    // The OLE date `date`, valid (whether or not it is in the calendar range).
    constexpr COleDateTime(DATE date) noexcept : m_dt(date) {}
    // The local time of `time` (seconds since 1970 UTC); invalid when the C
    // runtime cannot convert it or the year is outside 100..9999.
    COleDateTime(std::time_t time) noexcept;
    // The fields of `time` (the day of the week and the milliseconds are
    // ignored); invalid as SetDateTime is.
    COleDateTime(const SYSTEMTIME& time) noexcept;
    // A UTC file time (100-nanosecond intervals since 1 January 1601), to the
    // second below; invalid outside the calendar range.
    COleDateTime(const FILETIME& time) noexcept;
    COleDateTime(int year, int month, int day, int hour, int minute, int second) noexcept;

    DateTimeStatus GetStatus() const noexcept { return m_status; }
    void SetStatus(DateTimeStatus status) noexcept { m_status = status; }

    // Set the date and time from their fields: year 100..9999, month 1..12, a
    // day of that month, hour 0..23, minute and second 0..59.  Return 0 and
    // make the date valid; with any field out of range return 1, set the
    // status to invalid and the value to 0.0.  SetDate sets the time to
    // midnight, SetTime the date to 30 December 1899.
    int SetDateTime(int year, int month, int day, int hour, int minute, int second) noexcept;
    int SetDate(int year, int month, int day) noexcept { return SetDateTime(year, month, day, 0, 0, 0); }
    int SetTime(int hour, int minute, int second) noexcept;

    // Calendar fields, or AFX_OLE_DATETIME_ERROR (see the top of the file).
    int GetYear() const noexcept;
    int GetMonth() const noexcept;
    int GetDay() const noexcept;
    int GetHour() const noexcept;
    int GetMinute() const noexcept;
    int GetSecond() const noexcept;
    // 1 = Sunday … 7 = Saturday.
    int GetDayOfWeek() const noexcept;
    // 1 = 1 January … 366.
    int GetDayOfYear() const noexcept;
    // All fields (milliseconds 0); FALSE, leaving `time` unchanged, when the
    // date cannot be taken apart.
    BOOL GetAsSystemTime(SYSTEMTIME& time) const noexcept;

    operator DATE() const noexcept { return m_dt; }

    // strftime-like formatting with English names, independent of the locale:
    //   %Y year (4 digits)   %y year in the century   %m month   %d day
    //   %H hour 00-23        %I hour 01-12            %M minute  %S second
    //   %p AM/PM             %j day of the year (001-366)
    //   %a Sun … %A Sunday   %b Jan … %B January      %w weekday (0 = Sunday)
    //   %% a percent sign
    // A '#' after '%' drops leading zeros of a number (%#d), as on Windows.
    // Any other conversion is copied as it stands.  An invalid date (or one
    // outside the calendar range) gives "Invalid DateTime", a null date and a
    // null format give the empty string.
    CString Format(LPCWSTR format) const;
    // The date as "YYYY-MM-DD HH:MM:SS" (Format(L"%Y-%m-%d %H:%M:%S")).
    CString Format() const;

    // A date and a span give a date; results outside the calendar range are
    // invalid.  Results are invalid when an operand is invalid, otherwise null
    // when an operand is null.
    COleDateTime operator+(const COleDateTimeSpan& span) const noexcept;
    COleDateTime operator-(const COleDateTimeSpan& span) const noexcept;
    COleDateTime& operator+=(const COleDateTimeSpan& span) noexcept { return *this = *this + span; }
    COleDateTime& operator-=(const COleDateTimeSpan& span) noexcept { return *this = *this - span; }
    // The span from `other` to this date; invalid unless both are valid.
    COleDateTimeSpan operator-(const COleDateTime& other) const noexcept;

    // Equal when both are valid and hold the same date, or both are not valid
    // and have the same status.  The order compares the dates in time (so
    // that -1.25 comes after -1.0).
    bool operator==(const COleDateTime& other) const noexcept;
    bool operator!=(const COleDateTime& other) const noexcept { return !(*this == other); }
    bool operator<(const COleDateTime& other) const noexcept;
    bool operator>(const COleDateTime& other) const noexcept { return other < *this; }
    bool operator<=(const COleDateTime& other) const noexcept { return !(other < *this); }
    bool operator>=(const COleDateTime& other) const noexcept { return !(*this < other); }

    DATE m_dt = 0.0;
    DateTimeStatus m_status = valid;
};
