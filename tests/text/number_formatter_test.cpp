// VTools::NumberFormatter in Liberation Sans 11 px (Arial at 8 points).
#include <gtest/gtest.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/gdi/DrawText.h"
#include "tests/support/GdiTest.h"
#include "tests/support/Peer.h"
#include "tests/support/Seam.h"
#include "tests/support/TempDir.h"
#include "text/NumberFormatter.h"

namespace {

using vlibtest::FontScope;
using vlibtest::GdiObjectCount;
using vlibtest::ScreenDc;
using vlibtest::Selection;
using VTools::NumberFormatter;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

class NumberFormatting : public vlibtest::GdiTest {
protected:
    // The width DrawTextW measures for a text in the test's font.
    LONG Width(const std::wstring& text, HFONT font = nullptr) const {
        const ScreenDc dc;
        const Selection selection(dc, font != nullptr ? font : static_cast<HFONT>(m_font));
        RECT rect{0, 0, 1, 1};
        DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &rect, DT_CALCRECT | DT_NOCLIP);
        return rect.right - rect.left;
    }
    std::wstring Slow(double value, std::uint32_t width, EPrecision precision, EPrecision trim = ePrecisionNone,
                      std::wstring_view format = L"", HFONT font = nullptr) {
        std::wstring out = L"unchanged";
        m_formatter.SlowFormat(out, format, font != nullptr ? font : static_cast<HFONT>(m_font), width, value,
                               precision, trim);
        return out;
    }

    FontScope m_font{L"Arial", -11};
    NumberFormatter m_formatter;
};

TEST_F(NumberFormatting, TooWideNumbersLosePlacesThenTakeSuffixesUntilTheyFit) {
    // The widths are Liberation Sans's at 11 px, not a stand-in's.
    ASSERT_EQ(Width(L"1 234 567.50"), 63);
    ASSERT_EQ(Width(L"1 235k"), 33);
    // 1234567.5 with 2 places: each form in turn, the value divided by 1000
    // and rounded for k, then m; the md form would show 0.
    const std::vector<std::wstring> forms = {L"1 234 567.50", L"1 234 567.5", L"1 234 568", L"1 235k", L"1m"};
    for (LONG width = 0; width <= 70; ++width) {
        std::wstring expected;  // nothing fits
        for (const auto& form : forms) {
            if (Width(form) <= width) {
                expected = form;
                break;
            }
        }
        EXPECT_EQ(Slow(1234567.5, static_cast<std::uint32_t>(width), ePrecision2), expected) << width;
    }
}

// Fractions keep their places but for the last one (0.5 rounds to even);
// a suffix form that would show 0 ("0k" for 400) is not used, the decimal
// step's "0" is; in no width at all nothing fits.
TEST_F(NumberFormatting, NarrowCellsKeepFractionsAndNeverShowAZeroSuffixForm) {
    const auto width = [&](const wchar_t* text, LONG less = 0) {
        return static_cast<std::uint32_t>(Width(text) - less);
    };
    EXPECT_EQ(Slow(0.000123, 1, ePrecision6), L"0.000123");
    EXPECT_EQ(Slow(-0.25, 1, ePrecision2), L"-0.25");
    EXPECT_EQ(Slow(0.5, width(L"0"), ePrecision1), L"0");
    EXPECT_EQ(Slow(0.75, width(L"1"), ePrecision1), L"1");
    EXPECT_EQ(Slow(0.4, width(L"0"), ePrecision1), L"0");
    EXPECT_EQ(Slow(400, width(L"400", 1), ePrecision0), L"");
    EXPECT_EQ(Slow(400000, width(L"400k", 1), ePrecision0), L"");
    EXPECT_EQ(Slow(-400, width(L"-400", 1), ePrecision0), L"");
    EXPECT_EQ(Slow(600, width(L"600", 1), ePrecision0), L"1k");
    for (double value : {0.0, 1.0, -5e11, 123456.789, 5.25}) EXPECT_EQ(Slow(value, 0, ePrecision3), L"") << value;
}

TEST_F(NumberFormatting, WithoutAFontThePrecisionIsWrittenWhateverTheWidth) {
    std::wstring out;
    m_formatter.SlowFormat(out, L"", nullptr, 0, 1234567.5, ePrecision2, ePrecisionNone);
    EXPECT_EQ(out, L"1 234 567.50");
    m_formatter.SlowFormat(out, L"", nullptr, 0, -1234.0, static_cast<EPrecision>(9), ePrecisionNone);
    EXPECT_EQ(out, L"-1 234.0000");  // outside 0-6: four places
}

TEST_F(NumberFormatting, BigValuesInfinitiesAndNaNHaveTheirOwnTexts) {
    const std::pair<double, std::wstring> cases[] = {
        {1e12, L"1..."}, {-5e12, L"-5..."}, {3.5e13, L"4..."}, {2e15, L"2..."},
        {kInf, L"#INF"}, {-kInf, L"#INF"},  {kNaN, L"#NAN"},   {999'999'999'999.9, L"999 999 999 999.9"},
    };
    for (const auto& [value, text] : cases) EXPECT_EQ(Slow(value, 500, ePrecision1), text) << value;
    EXPECT_EQ(Slow(kNaN, 500, ePrecision1, ePrecisionNone, L"%s zł"), L"#NAN zł");
}

TEST_F(NumberFormatting, TheCallersFormatWrapsTheTrimmedTextAndDoesNotCount) {
    const auto fits = static_cast<std::uint32_t>(Width(L"1 234.50"));
    EXPECT_EQ(Slow(1234.5, fits, ePrecision2, ePrecisionNone, L"%s zł"), L"1 234.50 zł");
    EXPECT_EQ(Slow(1234.5, fits, ePrecision2, ePrecision0, L"(%s)"), L"(1 234.5)");
    EXPECT_EQ(Slow(12.0, 100, ePrecision3, ePrecision0, L"%s%%"), L"12%");
    EXPECT_EQ(Slow(12.0, 100, ePrecision3, ePrecision0, L"%s"), L"12");
}

TEST_F(NumberFormatting, TrimmingRemovesTrailingZerosDownToThePrecision) {
    struct Case {
        double value;
        EPrecision precision, trim;
        const wchar_t* text;
    };
    const Case cases[] = {
        {12.5, ePrecision3, ePrecision1, L"12.5"}, {12.0, ePrecision3, ePrecision0, L"12"},
        {12.0, ePrecision3, ePrecision1, L"12.0"}, {12.0, ePrecision3, ePrecision3, L"12.000"},
        {12.0, ePrecision1, ePrecision3, L"12.0"}, {12.0, ePrecision3, ePrecisionNone, L"12.000"},
        {100.0, ePrecision0, ePrecision0, L"100"}, {12.0, ePrecision6, static_cast<EPrecision>(8), L"12.0000"},
    };
    for (const Case& c : cases) EXPECT_EQ(Slow(c.value, 500, c.precision, c.trim), c.text) << c.text;
}

// Precisions outside 0-6 fall back to four places (or the caller's
// default); the suffix types write their suffix; an unknown type writes "".
TEST_F(NumberFormatting, PrecisionsOutsideTheRangeFallBack) {
    EXPECT_EQ(NumberFormatter::Precision2PrecisionType(static_cast<EPrecision>(7)), NumberFormatter::Decimals4);
    EXPECT_EQ(NumberFormatter::Precision2PrecisionType(ePrecisionNone), NumberFormatter::Decimals4);
    EXPECT_EQ(NumberFormatter::Precision2PrecisionType(ePrecisionNone, NumberFormatter::Decimals1),
              NumberFormatter::Decimals1);
    EXPECT_EQ(NumberFormatter::PrecisionType2Precision(NumberFormatter::Thousands), ePrecision0);
    std::wstring text = L"kept";
    NumberFormatter::FormatTextWithPrecisionDependOnType(NumberFormatter::Billions, 1234.5, text);
    EXPECT_EQ(text, L"1234md");
    NumberFormatter::FormatTextWithPrecisionDependOnType(static_cast<NumberFormatter::PrecisionType>(7), 1, text);
    EXPECT_EQ(text, L"");
}

// python3's %.*f of the exact double, given as its shortest round-trip text.
constexpr const char* kRoundingScript = R"(
import sys
for line in sys.stdin:
    value, places = line.split()
    print('%.*f' % (int(places), float(value)))
)";

TEST_F(NumberFormatting, RoundingIsPrintfsWithAPointWhateverTheLocale) {
    // A Polish LC_NUMERIC, built for the test, writes commas in printf.
    const vlibtest::TempDir dir;
    const std::string previousLocale = std::setlocale(LC_NUMERIC, nullptr);
    setenv("LOCPATH", dir.Path().c_str(), 1);
    vlibtest::RunPeer(
        {"sh", "-c",
         "localedef -c -i pl_PL -f UTF-8 '" + (dir.Path() / "pl_PL.UTF-8").string() + "' 2>/dev/null; true"});
    const bool polish = std::setlocale(LC_NUMERIC, "pl_PL.UTF-8") != nullptr;
    if (polish) {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%.1f", 2.5);
        EXPECT_STREQ(buffer, "2,5");
    }
    std::vector<std::pair<double, int>> cases = {{0.125, 2}, {0.375, 2},  {2.5, 0},          {3.5, 0},     {-0.5, 0},
                                                 {1.005, 2}, {0.045, 2},  {1e-7, 6},         {-0.0004, 3}, {2.675, 2},
                                                 {1e15, 1},  {5e-324, 6}, {123456789.125, 2}};
    std::mt19937_64 random(42);
    for (int i = 0; i < 300; ++i) {
        const double magnitude = std::pow(10.0, static_cast<double>(random() % 16) - 6);
        const double value = (static_cast<double>(random() % 2'000'000) - 1'000'000) / 1'000'000.0 * magnitude;
        cases.emplace_back(value, static_cast<int>(random() % 7));
    }
    std::string input;
    for (const auto& [value, places] : cases) {
        char text[64];
        *std::to_chars(text, text + sizeof text, value).ptr = 0;
        input += std::string(text) + " " + std::to_string(places) + "\n";
    }
    const auto output = vlibtest::RunPeer({"/usr/bin/python3", "-c", kRoundingScript}, input);
    ASSERT_TRUE(output);
    std::istringstream expected(*output);
    for (const auto& [value, places] : cases) {
        std::string line;
        std::getline(expected, line);
        std::wstring text;
        NumberFormatter::FormatTextWithPrecisionDependOnType(static_cast<NumberFormatter::PrecisionType>(places), value,
                                                             text);
        EXPECT_EQ(vlibtest::Utf8(text), line) << value << " with " << places;
    }
    std::setlocale(LC_NUMERIC, previousLocale.c_str());
    unsetenv("LOCPATH");
    EXPECT_TRUE(polish) << "no Polish locale could be built: the comma case was not run";
}

TEST_F(NumberFormatting, RandomValuesFitOrAreEmptyOrAreFractionsKeptWholeAlikeInARunAndAlone) {
    std::mt19937_64 random(1234);
    m_formatter.BeginFormat();
    for (int i = 0; i < 1500; ++i) {
        const double magnitude = std::pow(10.0, static_cast<double>(random() % 18) - 7);
        const double value = (static_cast<double>(random() % 2'000'001) - 1'000'000) / 1'000'000.0 * magnitude;
        const auto precision = static_cast<EPrecision>(random() % 7);
        const auto width = static_cast<std::uint32_t>(random() % 80);
        const std::wstring text = Slow(value, width, precision);
        std::wstring fast = L"unchanged";
        m_formatter.FastFormat(fast, L"", m_font, width, value, precision, ePrecisionNone);
        EXPECT_EQ(fast, text) << value << " at " << width << " px with " << precision << " places";
        if (text.empty() || Width(text) <= static_cast<LONG>(width)) continue;
        std::wstring requested;
        NumberFormatter::FormatTextWithPrecisionDependOnType(static_cast<NumberFormatter::PrecisionType>(precision),
                                                             value, requested);
        EXPECT_TRUE(value != 0 && std::fabs(value) < 1 && precision >= ePrecision2 && text == requested)
            << value << " at " << width << " px with " << precision << " places gave " << vlibtest::Utf8(text);
    }
    m_formatter.EndFormat();
}

TEST_F(NumberFormatting, FastFormatWorksOnlyInAnOpenRun) {
    std::wstring out = L"unchanged";
    m_formatter.FastFormat(out, L"", m_font, 500, 1.5, ePrecision1, ePrecisionNone);
    EXPECT_EQ(out, L"unchanged");
    m_formatter.BeginFormat();
    const FontScope larger(L"Arial", -14);
    m_formatter.FastFormat(out, L"", m_font, 500, 1234.5, ePrecision1, ePrecisionNone);
    EXPECT_EQ(out, L"1 234.5");
    // A narrower cell in another font, then no font: the width no longer counts.
    ASSERT_GT(Width(L"1 234.5", larger), Width(L"1 234.5"));
    m_formatter.FastFormat(out, L"", larger, static_cast<std::uint32_t>(Width(L"1 234.5")), 1234.5, ePrecision1,
                           ePrecisionNone);
    EXPECT_EQ(out, L"1 234");  // wider in the larger font: the place goes (a tie, to even)
    m_formatter.FastFormat(out, L"", nullptr, 0, 1234.5, ePrecision1, ePrecisionNone);
    EXPECT_EQ(out, L"1 234.5");
    m_formatter.FastFormatInPrecision(out, L"%s!", m_font, 5e13, NumberFormatter::Decimals6);
    EXPECT_EQ(out, L"5...!");
    m_formatter.EndFormat();
    m_formatter.FastFormatInPrecision(out, L"", m_font, 5e13, NumberFormatter::Decimals6);
    EXPECT_EQ(out, L"5...!");
}

// A deleted font cannot be selected; one whose file cannot be opened is
// selected, but every measuring call with it fails: no unfitted text is
// handed out, and the run goes on.
TEST_F(NumberFormatting, FontsThatCannotBeSelectedOrMeasuredFormatNothing) {
    const HFONT gone = CreateFontW(-11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, L"Arial");
    DeleteObject(gone);
    const FontScope unreadable(L"Arial", -83);  // a size no other test realises
    std::wstring out = L"unchanged";
    {
        const vlibtest::SeamScope seam([](auto& s) {
            s.ft_new_face = [](FT_Library, const char*, long, FT_Face*) -> int { return FT_Err_Cannot_Open_Resource; };
        });
        for (const HFONT font : {gone, static_cast<HFONT>(unreadable)}) {
            EXPECT_EQ(Slow(1234567.5, 40, ePrecision2, ePrecisionNone, L"%s PLN", font), L"unchanged");
        }
        m_formatter.BeginFormat();
        for (const HFONT font : {gone, static_cast<HFONT>(unreadable)}) {
            m_formatter.FastFormat(out, L"", font, 40, 1234567.5, ePrecision2, ePrecisionNone);
            EXPECT_EQ(out, L"unchanged");
        }
        // Without a width nothing is measured; big values are not fitted either.
        m_formatter.FastFormat(out, L"", nullptr, 40, 1.5, ePrecision1, ePrecisionNone);
        EXPECT_EQ(out, L"1.5");
        m_formatter.FastFormat(out, L"", unreadable, 40, 5e12, ePrecision1, ePrecisionNone);
        EXPECT_EQ(out, L"5...");
    }
    m_formatter.FastFormat(out, L"", m_font, 100, 2.5, ePrecision1, ePrecisionNone);
    EXPECT_EQ(out, L"2.5");
    m_formatter.EndFormat();
}

TEST_F(NumberFormatting, AnOpenRunIsSharedByCopiesAndMovesAndEndsOnce) {
    const DWORD start = GdiObjectCount();
    std::wstring out;
    {
        NumberFormatter first;
        first.BeginFormat();
        first.BeginFormat();  // keeps its run
        EXPECT_EQ(GdiObjectCount(), start + 1);
        first.FastFormat(out, L"", m_font, 500, 1.5, ePrecision1, ePrecisionNone);
        NumberFormatter copy = first;
        NumberFormatter moved = std::move(copy);
        NumberFormatter assigned;
        assigned = moved;
        NumberFormatter& same = moved;
        moved = std::move(same);  // a self-move keeps the run
        out.clear();
        moved.FastFormat(out, L"", m_font, 500, 2.5, ePrecision1, ePrecisionNone);
        EXPECT_EQ(out, L"2.5");
        EXPECT_EQ(GdiObjectCount(), start + 1);
        assigned.EndFormat();  // ends it for all of them, once
        EXPECT_EQ(GdiObjectCount(), start);
        out = L"unchanged";
        first.FastFormat(out, L"", m_font, 500, 3.5, ePrecision1, ePrecisionNone);
        copy.FastFormat(out, L"", m_font, 500, 3.5, ePrecision1, ePrecisionNone);
        EXPECT_EQ(out, L"unchanged");
        first.EndFormat();
        // The font was selected back: it can be deleted.
    }
    EXPECT_EQ(GdiObjectCount(), start);
    // The last holder ends an open run, also on the way out of an exception,
    // and selects the font back: it can be deleted.
    const HFONT font = CreateFontW(-13, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, L"Arial");
    try {
        NumberFormatter formatter;
        formatter.BeginFormat();
        formatter.FastFormat(out, L"", font, 500, 1.5, ePrecision1, ePrecisionNone);
        NumberFormatter copy = formatter;
        throw std::runtime_error("cell failed");
    } catch (const std::runtime_error&) {
    }
    EXPECT_TRUE(DeleteObject(font));
    EXPECT_EQ(GdiObjectCount(), start);
}

TEST_F(NumberFormatting, RaceThreadsFormatWithOneFont) {
    std::vector<double> values;
    std::mt19937_64 random(99);
    for (int i = 0; i < 400; ++i) values.push_back((static_cast<double>(random() % 2'000'000) - 1'000'000) * 37.1);
    std::vector<std::wstring> expected;
    for (double value : values) expected.push_back(Slow(value, 45, ePrecision2, ePrecision1));
    constexpr int kThreads = 4;
    std::vector<std::vector<std::wstring>> results(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            NumberFormatter formatter;
            formatter.BeginFormat();
            std::wstring out;
            for (double value : values) {
                formatter.FastFormat(out, L"", m_font, 45, value, ePrecision2, ePrecision1);
                results[t].push_back(out);
            }
            formatter.EndFormat();
        });
    }
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(results[t], expected) << "thread " << t;
}

}  // namespace
