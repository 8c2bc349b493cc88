// DrawTextW's measuring layout, pinned against the widths of the pieces
// each line should hold (Liberation Sans at 11 pixels: Arial at 8 points),
// with Windows' results for empty texts and counts.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "platform/gdi/DrawText.h"
#include "tests/support/GdiTest.h"
#include "tests/support/Rect.h"

namespace {

using vlibtest::FailsWith;
using vlibtest::FontScope;
using vlibtest::ScreenDc;
using vlibtest::Selection;
using vlibtest::TextWidth;

class DrawText : public vlibtest::GdiTest {
protected:
    DrawText() : m_font(L"Arial", -11), m_selection(m_dc, m_font) { GetTextMetricsW(m_dc, &m_metrics); }

    LONG W(const std::wstring& text) const { return TextWidth(m_dc, text); }

    ScreenDc m_dc;
    FontScope m_font;
    Selection m_selection;
    TEXTMETRICW m_metrics{};
};

TEST_F(DrawText, LinesBreakAndPrefixesAndTabsAsOnWindows) {
    struct Case {
        std::wstring text;
        UINT format;
        LONG rectWidth;                   // for DT_WORDBREAK and the ellipses
        std::vector<std::wstring> lines;  // what each line measures
    };
    const std::vector<Case> cases = {
        {L"abc", 0, 1, {L"abc"}},
        {L"ab\r\ncd", 0, 1, {L"ab", L"cd"}},
        {L"ab\nWide\rxyz", 0, 1, {L"ab", L"Wide", L"xyz"}},
        {L"ab\n\rcd", 0, 1, {L"ab", L"cd"}},       // LF CR is one break
        {L"ab\r\rcd", 0, 1, {L"ab", L"", L"cd"}},  // CR CR are two
        {L"ab\n", 0, 1, {L"ab"}},                  // a final break adds no line
        {L"ab\n\n", 0, 1, {L"ab", L""}},
        {L"\n", 0, 1, {L""}},
        {L"ab\r\ncd", DT_SINGLELINE, 1, {L"ab\r\ncd"}},  // the breaks are characters
        {L"&File", 0, 1, {L"File"}},
        {L"A&&B", 0, 1, {L"A&B"}},
        {L"AB&", 0, 1, {L"AB&"}},  // a final '&' is measured
        {L"&File", DT_NOPREFIX, 1, {L"&File"}},
        {L"a\tb", 0, 1, {L"a\tb"}},  // without DT_EXPANDTABS a tab is a character
        {L"line1 line2", DT_WORDBREAK, 1, {L"line1", L"line2"}},
        {L"line1 line2", DT_WORDBREAK | DT_SINGLELINE, 1, {L"line1 line2"}},
        {L"line1 line2", DT_WORDBREAK, W(L"line1 "), {L"line1 ", L"line2"}},  // a space that fits stays
        {L"a verylongword b", DT_WORDBREAK, W(L"a "), {L"a ", L"verylongword", L"b"}},
        {L"abcdef", DT_WORDBREAK | DT_EDITCONTROL, W(L"abc"), {L"abc", L"def"}},
        {L"one two\nthree", DT_WORDBREAK, W(L"one two"), {L"one two", L"three"}},
        {L"abcdefghij", DT_END_ELLIPSIS, W(L"abc..."), {L"abc..."}},
        {L"abcdefghij\nxy", DT_END_ELLIPSIS, W(L"abc..."), {L"abcdefghij", L"xy"}},  // not the last line
        {L"abcd abcd", DT_WORDBREAK | DT_WORD_ELLIPSIS, W(L"ab..."), {L"ab...", L"ab..."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(vlibtest::Utf8(c.text) + " " + std::to_string(c.format));
        RECT rect{10, 20, 10 + c.rectWidth, 21};
        const int height =
            DrawTextW(m_dc, c.text.c_str(), static_cast<int>(c.text.size()), &rect, c.format | DT_CALCRECT);
        LONG widest = 0;
        for (const auto& line : c.lines) widest = std::max(widest, W(line));
        EXPECT_EQ(height, static_cast<LONG>(c.lines.size()) * m_metrics.tmHeight);
        EXPECT_EQ(rect, (RECT{10, 20, 10 + widest, 20 + height}));
    }
}

TEST_F(DrawText, ExpandedTabsMoveToMultiplesOfEightAverageCharacters) {
    const LONG tab = 8 * m_metrics.tmAveCharWidth;
    RECT rect{0, 0, 1, 1};
    DrawTextW(m_dc, L"a\tb", -1, &rect, DT_CALCRECT | DT_EXPANDTABS);
    EXPECT_EQ(rect.right, tab + W(L"b"));
    rect = RECT{0, 0, 1, 1};
    DrawTextW(m_dc, L"\t\tb\tc", -1, &rect, DT_CALCRECT | DT_EXPANDTABS);
    EXPECT_EQ(rect.right, 3 * tab + W(L"c"));
    // DT_TABSTOP's tab stop is the high byte: it leaves no DT_CALCRECT.
    EXPECT_TRUE(FailsWith(ERROR_CALL_NOT_IMPLEMENTED, [&] {
        return DrawTextW(m_dc, L"a\tb", -1, &rect, DT_CALCRECT | DT_EXPANDTABS | DT_TABSTOP);
    }));
}

TEST_F(DrawText, EmptyTextsAndCountsAsOnWindows) {
    const int line = m_metrics.tmHeight;
    RECT rect{10, 10, 100, 100};
    EXPECT_EQ(DrawTextW(m_dc, L"text", 0, &rect, DT_CALCRECT), line);
    EXPECT_EQ(rect, (RECT{10, 10, 100, 100}));
    rect = RECT{0, 0, 1, 1};
    EXPECT_EQ(DrawTextW(m_dc, L"", 0, &rect, DT_CALCRECT), line);
    EXPECT_EQ(rect.right, 1);  // the fitting loop's rectangle stays 1 wide
    rect = RECT{10, 10, 100, 100};
    EXPECT_EQ(DrawTextW(m_dc, L"", -1, &rect, DT_CALCRECT), line);
    EXPECT_EQ(rect, (RECT{10, 10, 10, 10}));
    rect = RECT{10, 10, 100, 100};
    EXPECT_EQ(DrawTextW(m_dc, L"", -1, &rect, DT_CALCRECT | DT_SINGLELINE), line);
    EXPECT_EQ(rect, (RECT{10, 10, 10, 10 + line}));
    rect = RECT{0, 0, 0, 0};
    EXPECT_EQ(DrawTextW(m_dc, L"ab\ncd", -1, &rect, DT_CALCRECT | DT_EXTERNALLEADING),
              2 * (line + m_metrics.tmExternalLeading));
}

TEST_F(DrawText, MisuseFailsAndNothingIsDrawn) {
    RECT rect{0, 0, 1, 1};
    const std::vector<std::pair<DWORD, std::function<int()>>> misuses = {
        {ERROR_CALL_NOT_IMPLEMENTED, [&] { return DrawTextW(m_dc, L"a", 1, &rect, DT_LEFT); }},
        {ERROR_INVALID_PARAMETER, [&] { return DrawTextW(m_dc, nullptr, 1, &rect, DT_CALCRECT); }},
        {ERROR_INVALID_PARAMETER, [&] { return DrawTextW(m_dc, L"a", 1, nullptr, DT_CALCRECT); }},
        {ERROR_INVALID_PARAMETER, [&] { return DrawTextW(m_dc, L"a", -2, &rect, DT_CALCRECT); }},
        {ERROR_INVALID_HANDLE, [&] { return DrawTextW(nullptr, L"a", 1, &rect, DT_CALCRECT); }},
    };
    for (const auto& [error, call] : misuses) EXPECT_TRUE(FailsWith(error, [&] { return call() != 0; })) << error;
    EXPECT_EQ(rect, (RECT{0, 0, 1, 1}));
    // DT_MODIFYSTRING never writes: the text may be read-only.
    static const wchar_t text[] = L"abcdefghijkl";
    rect = RECT{0, 0, W(L"ab"), 0};
    EXPECT_GT(DrawTextW(m_dc, text, -1, &rect, DT_CALCRECT | DT_END_ELLIPSIS | DT_MODIFYSTRING), 0);
    EXPECT_EQ(std::wstring(text), L"abcdefghijkl");
}

}  // namespace
