// COleDateTime and COleDateTimeSpan: calendar arithmetic on OLE dates.
#include "platform/mfc/AfxDateTime.h"

#include <cmath>
#include <cstdint>
#include <string>

#include "platform/internal/Calendar.h"
#include "platform/kernel/Time.h"
#include "platform/kernel/internal/Clock.h"

namespace {

constexpr double kMinDate = -657434.0;         // 1 January 100
constexpr double kMaxDate = 2958465.99999999;  // 31 December 9999 23:59:59.999
using vplatform::calendar::CivilFromDays;
using vplatform::calendar::DaysFromCivil;
using vplatform::calendar::kSecondsPerDay;

constexpr std::int64_t kEpoch = DaysFromCivil(1899, 12, 30);
constexpr std::int64_t kDaysFrom1601To1899 = kEpoch - vplatform::calendar::kDays1601;
static_assert(kDaysFrom1601To1899 == 109205);

constexpr int DaysInMonth(int year, int month) noexcept {
    return static_cast<int>(vplatform::calendar::DaysInMonth(year, static_cast<unsigned>(month)));
}

// The OLE encoding and the linear form: an OLE date below zero keeps its time
// of day as a fraction counting forward, so -1.25 (29 Dec 06:00) is -0.75 in
// linear days.
double ToLinear(double date) noexcept {
    if (date >= 0.0) return date;
    const double day = std::trunc(date);
    return day + (day - date);
}

double FromLinear(double linear) noexcept {
    if (linear >= 0.0) return linear;
    const double day = std::floor(linear);
    const double time = linear - day;
    return day - time;
}

double FromDayAndSeconds(std::int64_t day, std::int64_t seconds) noexcept {
    const double time = static_cast<double>(seconds) / static_cast<double>(kSecondsPerDay);
    return day >= 0 ? static_cast<double>(day) + time : static_cast<double>(day) - time;
}

bool InRange(double date) noexcept {
    return date >= kMinDate && date <= kMaxDate;
}

// A date taken apart, to the nearest second.
struct Parts {
    int year, month, day, hour, minute, second, dayOfWeek, dayOfYear;
};

bool Split(const COleDateTime& date, Parts& parts) noexcept {
    if (date.m_status != COleDateTime::valid || !InRange(date.m_dt)) return false;
    std::int64_t day = static_cast<std::int64_t>(std::trunc(date.m_dt));
    const double fraction = std::fabs(date.m_dt - std::trunc(date.m_dt));
    auto seconds = static_cast<std::int64_t>(std::llround(fraction * static_cast<double>(kSecondsPerDay)));
    if (seconds >= kSecondsPerDay) {
        // Rounded up to the next midnight: the calendar day after this one.
        seconds -= kSecondsPerDay;
        ++day;
    }
    const vplatform::calendar::Date civil = CivilFromDays(day + kEpoch);
    if (civil.year > 9999) return false;
    parts.year = static_cast<int>(civil.year);
    parts.month = static_cast<int>(civil.month);
    parts.day = static_cast<int>(civil.day);
    parts.hour = static_cast<int>(seconds / 3600);
    parts.minute = static_cast<int>(seconds / 60 % 60);
    parts.second = static_cast<int>(seconds % 60);
    // 30 December 1899 was a Saturday.
    parts.dayOfWeek = static_cast<int>(((day + 6) % 7 + 7) % 7) + 1;
    parts.dayOfYear = static_cast<int>(day + kEpoch - DaysFromCivil(civil.year, 1, 1)) + 1;
    return true;
}

bool ValidFields(int year, int month, int day, int hour, int minute, int second) noexcept {
    return year >= 100 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 && day <= DaysInMonth(year, month) &&
           hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 && second >= 0 && second <= 59;
}

double FromFields(int year, int month, int day, int hour, int minute, int second) noexcept {
    const std::int64_t days = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - kEpoch;
    return FromDayAndSeconds(days, static_cast<std::int64_t>(hour) * 3600 + minute * 60 + second);
}

COleDateTime FromLocalTime(std::time_t time) noexcept {
    struct tm local {};
    COleDateTime result;
    if (!vplatform::clock::LocalCalendar(time, local)) {
        result.SetStatus(COleDateTime::invalid);
        return result;
    }
    result.SetDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                       local.tm_sec > 59 ? 59 : local.tm_sec);
    return result;
}

// Rounds a span to whole seconds (half away from zero).
std::int64_t SpanSeconds(double span) noexcept {
    return static_cast<std::int64_t>(std::llround(span * static_cast<double>(kSecondsPerDay)));
}

void AppendNumber(std::wstring& out, int value, int digits, bool dropZeros) {
    std::wstring text = std::to_wstring(value);
    if (!dropZeros && static_cast<int>(text.size()) < digits) text.insert(0, digits - text.size(), L'0');
    out += text;
}

constexpr const wchar_t* kMonthNames[] = {L"January", L"February", L"March",     L"April",   L"May",      L"June",
                                          L"July",    L"August",   L"September", L"October", L"November", L"December"};
constexpr const wchar_t* kDayNames[] = {L"Sunday",   L"Monday", L"Tuesday", L"Wednesday",
                                        L"Thursday", L"Friday", L"Saturday"};

}  // namespace

// ---------------------------------------------------------------------------
// COleDateTimeSpan

COleDateTimeSpan::COleDateTimeSpan(LONG days, int hours, int minutes, int seconds) noexcept {
    SetDateTimeSpan(days, hours, minutes, seconds);
}

void COleDateTimeSpan::SetDateTimeSpan(LONG days, int hours, int minutes, int seconds) noexcept {
    const double total =
        static_cast<double>(days) * static_cast<double>(kSecondsPerDay) + hours * 3600.0 + minutes * 60.0 + seconds;
    m_span = total / static_cast<double>(kSecondsPerDay);
    m_status = valid;
}

LONG COleDateTimeSpan::GetDays() const noexcept {
    return static_cast<LONG>(SpanSeconds(m_span) / kSecondsPerDay);
}

LONG COleDateTimeSpan::GetHours() const noexcept {
    return static_cast<LONG>(SpanSeconds(m_span) / 3600 % 24);
}

LONG COleDateTimeSpan::GetMinutes() const noexcept {
    return static_cast<LONG>(SpanSeconds(m_span) / 60 % 60);
}

LONG COleDateTimeSpan::GetSeconds() const noexcept {
    return static_cast<LONG>(SpanSeconds(m_span) % 60);
}

COleDateTimeSpan COleDateTimeSpan::operator+(const COleDateTimeSpan& other) const noexcept {
    COleDateTimeSpan result(m_span + other.m_span);
    if (m_status == invalid || other.m_status == invalid) {
        result.m_status = invalid;
    } else if (m_status == null || other.m_status == null) {
        result.m_status = null;
    }
    if (result.m_status != valid) result.m_span = 0.0;
    return result;
}

COleDateTimeSpan COleDateTimeSpan::operator-(const COleDateTimeSpan& other) const noexcept {
    return *this + -other;
}

COleDateTimeSpan COleDateTimeSpan::operator-() const noexcept {
    COleDateTimeSpan result(-m_span);
    result.m_status = m_status;
    return result;
}

bool COleDateTimeSpan::operator==(const COleDateTimeSpan& other) const noexcept {
    if (m_status == valid && other.m_status == valid) return m_span == other.m_span;
    return m_status == other.m_status;
}

// ---------------------------------------------------------------------------
// COleDateTime

COleDateTime COleDateTime::GetCurrentTime() noexcept {
    return FromLocalTime(vplatform::clock::Now().tv_sec);
}

COleDateTime::COleDateTime(std::time_t time) noexcept {
    *this = FromLocalTime(time);
}

COleDateTime::COleDateTime(const SYSTEMTIME& time) noexcept {
    SetDateTime(time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond);
}

COleDateTime::COleDateTime(const FILETIME& time) noexcept {
    const auto seconds = static_cast<std::int64_t>(vplatform::FileTimeTicks(time) / 10'000'000);
    const std::int64_t day = seconds / kSecondsPerDay - kDaysFrom1601To1899;
    m_dt = FromDayAndSeconds(day, seconds % kSecondsPerDay);
    m_status = InRange(m_dt) ? valid : invalid;
    if (m_status != valid) m_dt = 0.0;
}

COleDateTime::COleDateTime(int year, int month, int day, int hour, int minute, int second) noexcept {
    SetDateTime(year, month, day, hour, minute, second);
}

int COleDateTime::SetDateTime(int year, int month, int day, int hour, int minute, int second) noexcept {
    if (!ValidFields(year, month, day, hour, minute, second)) {
        m_dt = 0.0;
        m_status = invalid;
        return 1;
    }
    m_dt = FromFields(year, month, day, hour, minute, second);
    m_status = valid;
    return 0;
}

int COleDateTime::SetTime(int hour, int minute, int second) noexcept {
    if (!ValidFields(1899, 12, 30, hour, minute, second)) {
        m_dt = 0.0;
        m_status = invalid;
        return 1;
    }
    m_dt = FromDayAndSeconds(0, static_cast<std::int64_t>(hour) * 3600 + minute * 60 + second);
    m_status = valid;
    return 0;
}

int COleDateTime::GetYear() const noexcept {
    Parts p;
    return Split(*this, p) ? p.year : AFX_OLE_DATETIME_ERROR;
}

int COleDateTime::GetMonth() const noexcept {
    Parts p;
    return Split(*this, p) ? p.month : AFX_OLE_DATETIME_ERROR;
}

int COleDateTime::GetDay() const noexcept {
    Parts p;
    return Split(*this, p) ? p.day : AFX_OLE_DATETIME_ERROR;
}

int COleDateTime::GetHour() const noexcept {
    Parts p;
    return Split(*this, p) ? p.hour : AFX_OLE_DATETIME_ERROR;
}

int COleDateTime::GetMinute() const noexcept {
    Parts p;
    return Split(*this, p) ? p.minute : AFX_OLE_DATETIME_ERROR;
}

int COleDateTime::GetSecond() const noexcept {
    Parts p;
    return Split(*this, p) ? p.second : AFX_OLE_DATETIME_ERROR;
}

int COleDateTime::GetDayOfWeek() const noexcept {
    Parts p;
    return Split(*this, p) ? p.dayOfWeek : AFX_OLE_DATETIME_ERROR;
}

int COleDateTime::GetDayOfYear() const noexcept {
    Parts p;
    return Split(*this, p) ? p.dayOfYear : AFX_OLE_DATETIME_ERROR;
}

BOOL COleDateTime::GetAsSystemTime(SYSTEMTIME& time) const noexcept {
    Parts p;
    if (!Split(*this, p)) return FALSE;
    time.wYear = static_cast<WORD>(p.year);
    time.wMonth = static_cast<WORD>(p.month);
    time.wDayOfWeek = static_cast<WORD>(p.dayOfWeek - 1);
    time.wDay = static_cast<WORD>(p.day);
    time.wHour = static_cast<WORD>(p.hour);
    time.wMinute = static_cast<WORD>(p.minute);
    time.wSecond = static_cast<WORD>(p.second);
    time.wMilliseconds = 0;
    return TRUE;
}

CString COleDateTime::Format(LPCWSTR format) const {
    if (m_status == null || format == nullptr) return CString();
    Parts p;
    if (!Split(*this, p)) return CString(L"Invalid DateTime");
    std::wstring out;
    for (const wchar_t* c = format; *c != L'\0'; ++c) {
        if (*c != L'%') {
            out += *c;
            continue;
        }
        const wchar_t* start = c;
        bool dropZeros = false;
        if (c[1] == L'#') {
            dropZeros = true;
            ++c;
        }
        const wchar_t conversion = c[1];
        if (conversion == L'\0') {
            out.append(start, c + 1);
            break;
        }
        ++c;
        switch (conversion) {
            case L'Y':
                AppendNumber(out, p.year, 4, dropZeros);
                break;
            case L'y':
                AppendNumber(out, p.year % 100, 2, dropZeros);
                break;
            case L'm':
                AppendNumber(out, p.month, 2, dropZeros);
                break;
            case L'd':
                AppendNumber(out, p.day, 2, dropZeros);
                break;
            case L'H':
                AppendNumber(out, p.hour, 2, dropZeros);
                break;
            case L'I':
                AppendNumber(out, p.hour % 12 == 0 ? 12 : p.hour % 12, 2, dropZeros);
                break;
            case L'M':
                AppendNumber(out, p.minute, 2, dropZeros);
                break;
            case L'S':
                AppendNumber(out, p.second, 2, dropZeros);
                break;
            case L'j':
                AppendNumber(out, p.dayOfYear, 3, dropZeros);
                break;
            case L'w':
                AppendNumber(out, p.dayOfWeek - 1, 1, dropZeros);
                break;
            case L'p':
                out += p.hour < 12 ? L"AM" : L"PM";
                break;
            case L'a':
                out.append(kDayNames[p.dayOfWeek - 1], 3);
                break;
            case L'A':
                out += kDayNames[p.dayOfWeek - 1];
                break;
            case L'b':
                out.append(kMonthNames[p.month - 1], 3);
                break;
            case L'B':
                out += kMonthNames[p.month - 1];
                break;
            case L'%':
                out += L'%';
                break;
            default:
                out.append(start, c + 1);
                break;
        }
    }
    return CString(std::move(out));
}

CString COleDateTime::Format() const {
    return Format(L"%Y-%m-%d %H:%M:%S");
}

COleDateTime COleDateTime::operator+(const COleDateTimeSpan& span) const noexcept {
    COleDateTime result;
    if (m_status != valid || span.m_status != COleDateTimeSpan::valid) {
        const bool invalidOperand =
            (m_status != valid && m_status != null) || span.m_status == COleDateTimeSpan::invalid;
        result.m_status = invalidOperand ? invalid : null;
        return result;
    }
    result.m_dt = FromLinear(ToLinear(m_dt) + span.m_span);
    if (!InRange(result.m_dt)) {
        result.m_dt = 0.0;
        result.m_status = invalid;
    }
    return result;
}

COleDateTime COleDateTime::operator-(const COleDateTimeSpan& span) const noexcept {
    return *this + -span;
}

COleDateTimeSpan COleDateTime::operator-(const COleDateTime& other) const noexcept {
    COleDateTimeSpan result;
    if (m_status != valid || other.m_status != valid) {
        result.m_status = COleDateTimeSpan::invalid;
        return result;
    }
    result.m_span = ToLinear(m_dt) - ToLinear(other.m_dt);
    return result;
}

bool COleDateTime::operator==(const COleDateTime& other) const noexcept {
    if (m_status == valid && other.m_status == valid) return m_dt == other.m_dt;
    return m_status == other.m_status;
}

bool COleDateTime::operator<(const COleDateTime& other) const noexcept {
    return ToLinear(m_dt) < ToLinear(other.m_dt);
}
