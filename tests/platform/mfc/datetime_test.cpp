// Tests of COleDateTime and COleDateTimeSpan: the OLE encoding before and
// after 1899 checked against python3's datetime for dates across the whole
// range, arithmetic across the epoch, status rules and formatting.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "platform/mfc/AfxDateTime.h"
#include "tests/support/Peer.h"

namespace {

struct Expected {
    int year, month, day, hour, minute, second;
    double ole;
    int dayOfWeek, dayOfYear;
};

// python3's OLE date of a datetime: plain datetime arithmetic, days from 30
// Dec 1899, the time of day added for later dates and subtracted for earlier
// ones.
const std::string kPythonOle = R"(
import datetime, random
epoch = datetime.datetime(1899, 12, 30)
def ole(t):
    days = (t.date() - epoch.date()).days
    fraction = (t.hour * 3600 + t.minute * 60 + t.second) / 86400
    return days + fraction if days >= 0 else days - fraction
)";

// Dates across the whole range with python's OLE date, weekday (1 = Sunday)
// and day of year.
std::vector<Expected> PythonDates() {
    const std::string script = kPythonOle + R"(
random.seed(11)
dates = [datetime.datetime(100, 1, 1), datetime.datetime(9999, 12, 31, 23, 59, 59),
         datetime.datetime(1899, 12, 29, 6), datetime.datetime(1899, 12, 30, 12),
         datetime.datetime(1900, 2, 28, 23, 59, 59), datetime.datetime(1900, 3, 1),
         datetime.datetime(2000, 2, 29, 12, 30, 15), datetime.datetime(1600, 2, 29, 1, 2, 3),
         datetime.datetime(1582, 10, 10), datetime.datetime(1970, 1, 1)]
low, high = datetime.datetime(100, 1, 1).toordinal(), datetime.datetime(9999, 12, 31).toordinal()
for _ in range(3000):
    d = datetime.date.fromordinal(random.randint(low, high))
    dates.append(datetime.datetime(d.year, d.month, d.day, random.randrange(24), random.randrange(60), random.randrange(60)))
for t in dates:
    print(t.year, t.month, t.day, t.hour, t.minute, t.second, repr(ole(t)), t.isoweekday() % 7 + 1, t.timetuple().tm_yday)
)";
    std::vector<Expected> result;
    const auto output = vlibtest::RunPeer({"python3", "-c", script});
    if (!output) return result;
    std::istringstream in(*output);
    Expected e;
    while (in >> e.year >> e.month >> e.day >> e.hour >> e.minute >> e.second >> e.ole >> e.dayOfWeek >> e.dayOfYear) {
        result.push_back(e);
    }
    return result;
}

TEST(COleDateTime, CalendarFieldsAgreeWithPython) {
    const auto dates = PythonDates();
    ASSERT_GT(dates.size(), 3000u) << "python3 is needed for this test";
    for (const auto& e : dates) {
        const COleDateTime built(e.year, e.month, e.day, e.hour, e.minute, e.second);
        ASSERT_EQ(built.GetStatus(), COleDateTime::valid) << e.year << "-" << e.month << "-" << e.day;
        ASSERT_NEAR(built.m_dt, e.ole, 1e-9) << e.year << "-" << e.month << "-" << e.day;
        const COleDateTime r(e.ole);
        ASSERT_EQ((std::vector<int>{r.GetYear(), r.GetMonth(), r.GetDay(), r.GetHour(), r.GetMinute(), r.GetSecond(),
                                    r.GetDayOfWeek(), r.GetDayOfYear()}),
                  (std::vector<int>{e.year, e.month, e.day, e.hour, e.minute, e.second, e.dayOfWeek, e.dayOfYear}))
            << e.ole;
    }
}

// Before 1899 the time counts forward from the day (python checks the
// encoding below); comparisons follow time, not the value's order.
TEST(COleDateTime, NegativeDatesCompareInTimeOrder) {
    const COleDateTime before(-1.25);
    EXPECT_EQ(before.Format(), L"1899-12-29 06:00:00");
    EXPECT_LT(COleDateTime(-1.0), before);
    EXPECT_LT(before, COleDateTime(1899, 12, 29, 12, 0, 0));
    EXPECT_GT(COleDateTime(0.0), before);
    EXPECT_NEAR((before - COleDateTime(0.75)).GetTotalHours(), -36.0, 1e-9);
}

TEST(COleDateTime, SpanArithmeticAgreesWithPython) {
    const std::string script = kPythonOle + R"(
random.seed(5)
for _ in range(500):
    start = epoch + datetime.timedelta(seconds=random.randint(-400 * 86400, 400 * 86400))
    seconds = random.randint(-800 * 86400, 800 * 86400)
    print(repr(ole(start)), seconds, repr(ole(start + datetime.timedelta(seconds=seconds))))
)";
    const auto output = vlibtest::RunPeer({"python3", "-c", script});
    ASSERT_TRUE(output.has_value()) << "python3 is needed for this test";
    std::istringstream in(*output);
    double start, expected;
    long long seconds;
    int count = 0;
    while (in >> start >> seconds >> expected) {
        const COleDateTimeSpan span(static_cast<LONG>(seconds / 86400), 0, 0, static_cast<int>(seconds % 86400));
        const COleDateTime moved = COleDateTime(start) + span;
        ASSERT_NEAR(moved.m_dt, expected, 1e-7) << start << " + " << seconds << "s";
        ASSERT_NEAR((moved - COleDateTime(start)).GetTotalSeconds(), static_cast<double>(seconds), 1e-3);
        ++count;
    }
    EXPECT_EQ(count, 500);
}

TEST(COleDateTime, InvalidFieldsAndRangesAreReported) {
    for (const auto& f : std::vector<std::vector<int>>{{99, 12, 31, 0, 0, 0},
                                                       {10000, 1, 1, 0, 0, 0},
                                                       {2023, 2, 29, 0, 0, 0},
                                                       {2024, 4, 31, 0, 0, 0},
                                                       {2024, 1, 1, 24, 0, 0},
                                                       {2024, 1, 1, 0, 0, -1}}) {
        COleDateTime date(f[0], f[1], f[2], f[3], f[4], f[5]);
        EXPECT_EQ(date.GetStatus(), COleDateTime::invalid) << f[0] << "-" << f[1] << "-" << f[2];
        EXPECT_EQ(date.GetYear(), AFX_OLE_DATETIME_ERROR);
        EXPECT_EQ(date.Format(), L"Invalid DateTime");
    }
    COleDateTime date;
    EXPECT_EQ(date.SetTime(25, 0, 0), 1);
    EXPECT_EQ(date.GetStatus(), COleDateTime::invalid);
    EXPECT_EQ(date.SetTime(13, 14, 15), 0);
    EXPECT_EQ(date.Format(), L"1899-12-30 13:14:15");
    // Values outside 1 Jan 100 .. 31 Dec 9999 cannot be taken apart.
    EXPECT_EQ(COleDateTime(-657434.0).GetYear(), 100);
    EXPECT_EQ(COleDateTime(-657435.0).GetYear(), AFX_OLE_DATETIME_ERROR);
    EXPECT_EQ(COleDateTime(2958466.0).GetMonth(), AFX_OLE_DATETIME_ERROR);
    EXPECT_EQ((COleDateTime(9999, 12, 31, 0, 0, 0) + COleDateTimeSpan(1.0)).GetStatus(), COleDateTime::invalid);
    EXPECT_EQ(COleDateTime(std::nan("")).GetYear(), AFX_OLE_DATETIME_ERROR);
    // Null dates and spans: no text, and arithmetic keeps them null or invalid.
    COleDateTime empty, otherNull(7.0);
    empty.SetStatus(COleDateTime::null);
    otherNull.SetStatus(COleDateTime::null);
    EXPECT_EQ(empty.Format(), L"");
    EXPECT_EQ((empty + COleDateTimeSpan(1.0)).GetStatus(), COleDateTime::null);
    EXPECT_EQ((empty - COleDateTime(1.0)).GetStatus(), COleDateTimeSpan::invalid);
    COleDateTimeSpan bad(1.0);
    bad.SetStatus(COleDateTimeSpan::invalid);
    EXPECT_EQ((empty + bad).GetStatus(), COleDateTime::invalid);
    EXPECT_EQ(empty, otherNull);
    EXPECT_NE(empty, COleDateTime(0.0));
}

TEST(COleDateTime, TimeIsRoundedToTheNearestSecond) {
    const double almostMidnight = 1.0 - 0.4 / 86400.0;
    EXPECT_EQ(COleDateTime(almostMidnight).Format(), L"1899-12-31 00:00:00");
    EXPECT_EQ(COleDateTime(-1.0 - almostMidnight).Format(), L"1899-12-30 00:00:00");
    EXPECT_EQ(COleDateTime(0.6 / 86400.0).GetSecond(), 1);
}

TEST(COleDateTime, ConvertsSystemAndFileTimes) {
    const COleDateTime date(SYSTEMTIME{2024, 3, 5, 15, 14, 3, 7, 999});
    EXPECT_EQ(date.Format(), L"2024-03-15 14:03:07");
    SYSTEMTIME back{};
    ASSERT_TRUE(date.GetAsSystemTime(back));
    EXPECT_EQ(back.wDayOfWeek, 5);  // Friday
    EXPECT_EQ(back.wMilliseconds, 0);
    EXPECT_FALSE(COleDateTime(3e6).GetAsSystemTime(back));
    EXPECT_EQ(back.wSecond, 7);  // untouched
    const ULONGLONG unixEpoch = 116444736000000000ull;
    EXPECT_EQ(COleDateTime(FILETIME{static_cast<DWORD>(unixEpoch), static_cast<DWORD>(unixEpoch >> 32)}).m_dt, 25569.0);
    EXPECT_EQ(COleDateTime(FILETIME{0xFFFFFFFFu, 0x7FFFFFFFu}).GetStatus(), COleDateTime::invalid);
}

TEST(COleDateTime, LocalTimeAgreesWithPython) {
    const auto output =
        vlibtest::RunPeer({"python3", "-c",
                           "import datetime; t = datetime.datetime.now(); print(t.toordinal(), "
                           "t.hour * 3600 + t.minute * 60 + t.second, "
                           "datetime.datetime.fromtimestamp(1700000000).strftime('%Y-%m-%d %H:%M:%S'))"});
    ASSERT_TRUE(output.has_value());
    const COleDateTime current = COleDateTime::GetCurrentTime();
    std::istringstream in(*output);
    long long ordinal = 0, seconds = 0;
    std::string day, time;
    in >> ordinal >> seconds >> day >> time;
    EXPECT_EQ(COleDateTime(static_cast<std::time_t>(1700000000)).Format(), CString((day + " " + time).c_str()));
    const double python = static_cast<double>(ordinal - 693594) + static_cast<double>(seconds) / 86400.0;
    EXPECT_NEAR(current.m_dt, python, 5.0 / 86400.0);
}

TEST(COleDateTime, FormatsEveryConversion) {
    const COleDateTime date(2024, 3, 5, 14, 3, 7);
    EXPECT_EQ(date.Format(L"%Y|%y|%m|%d|%H|%I|%M|%S|%p|%j|%w"), L"2024|24|03|05|14|02|03|07|PM|065|2");
    EXPECT_EQ(date.Format(L"%a %A %b %B 100%%"), L"Tue Tuesday Mar March 100%");
    EXPECT_EQ(date.Format(L"%#d.%#m.%Y %#H:%M"), L"5.3.2024 14:03");
    EXPECT_EQ(date.Format(L"%q %"), L"%q %");
    EXPECT_EQ(COleDateTime(2024, 1, 1, 0, 5, 0).Format(L"%I %p"), L"12 AM");
    EXPECT_EQ(COleDateTime(305, 1, 1, 0, 0, 0).Format(L"%Y %y"), L"0305 05");
    EXPECT_EQ(date.Format(nullptr), L"");
}

TEST(COleDateTimeSpan, PartsCarryTheSignOfTheSpan) {
    const COleDateTimeSpan span(2, 3, 4, 5), back = -span;
    EXPECT_EQ((std::vector<LONG>{span.GetDays(), span.GetHours(), span.GetMinutes(), span.GetSeconds()}),
              (std::vector<LONG>{2, 3, 4, 5}));
    EXPECT_EQ((std::vector<LONG>{back.GetDays(), back.GetHours(), back.GetMinutes(), back.GetSeconds()}),
              (std::vector<LONG>{-2, -3, -4, -5}));
    EXPECT_DOUBLE_EQ(span.GetTotalSeconds(), 2 * 86400 + 3 * 3600 + 4 * 60 + 5);
    EXPECT_EQ(COleDateTimeSpan(0, 0, 0, 90).GetMinutes(), 1);
    EXPECT_EQ(COleDateTimeSpan(0, 25, 0, 0).GetDays(), 1);
    EXPECT_EQ(span + back, COleDateTimeSpan());
    EXPECT_LT(back, span);
    COleDateTimeSpan null;
    null.SetStatus(COleDateTimeSpan::null);
    EXPECT_EQ((span + null).GetStatus(), COleDateTimeSpan::null);
    EXPECT_NE(null, COleDateTimeSpan());
}

}  // namespace
