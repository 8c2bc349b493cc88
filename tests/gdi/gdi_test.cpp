// The GDI owners, DeletableDC, DCStateBuffer and TextSizeCalculator: every
// handle released exactly once, states put back (the previous clipping
// included), and measurements that select their fonts back and give empty
// results where there is nothing to measure.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <utility>

#include "gdi/DCStateBuffer.h"
#include "gdi/DeletableDC.h"
#include "gdi/GdiOwners.h"
#include "gdi/TextSizeCalculator.h"
#include "platform/gdi/DrawText.h"
#include "platform/gdi/Icons.h"
#include "platform/mfc/AfxWin.h"
#include "tests/support/GdiTest.h"

// Rectangles shown by their corners when an expectation fails.
void PrintTo(const CRect& rect, std::ostream* os) {
    *os << "(" << rect.left << ", " << rect.top << ", " << rect.right << ", " << rect.bottom << ")";
}

// Reaches the measuring core that the static-control functions stand on.
struct TextSizeCalculatorTestAccess {
    static CRect InDc(const CRect& start, HDC dc, HFONT font, std::wstring_view text, std::uint32_t format) {
        return TextSizeCalculator::GetTextRectInDc(start, dc, font, text, format);
    }
};

namespace {

using vlibtest::FontScope;
using vlibtest::GdiObjectCount;
using vlibtest::ScreenDc;
using vlibtest::Selection;
using vlibtest::TextWidth;

class GdiHelpers : public vlibtest::GdiTest {};

HICON MakeIcon() {
    const HBITMAP mask = CreateBitmap(4, 8, 1, 1, nullptr);
    ICONINFO info{TRUE, 0, 0, mask, nullptr};
    const HICON icon = CreateIconIndirect(&info);
    DeleteObject(mask);
    return icon;
}

TEST_F(GdiHelpers, OwnersReleaseExactlyOnceAcrossMoves) {
    const ScreenDc screen;
    const DWORD start = GdiObjectCount();
    const RECT rect{0, 0, 10, 10};
    {
        ClipRegion region(&rect);
        CompatibleBitmapOwner bitmap(screen, 4, 4);
        CompatibleDC memory(screen);
        IconOwner icon;
        icon.Update(MakeIcon());
        HdcsOwner dc(nullptr);
        DeletableDC deletable;
        ASSERT_TRUE(region && bitmap && memory && icon && dc && deletable.CreateCompatibleDC(nullptr));
        EXPECT_EQ(GdiObjectCount(), start + 6);

        ClipRegion movedRegion(std::move(region));
        CompatibleBitmapOwner movedBitmap;
        movedBitmap = std::move(bitmap);
        CompatibleDC movedDc(std::move(memory));
        IconOwner movedIcon(std::move(icon));
        HdcsOwner movedScreen(std::move(dc));
        EXPECT_FALSE(region || bitmap || memory || icon || dc);
        EXPECT_TRUE(movedRegion && movedBitmap && movedDc && movedIcon && movedScreen);
        // Moving into itself keeps the handle.
        ClipRegion& same = movedRegion;
        movedRegion = std::move(same);
        EXPECT_TRUE(movedRegion);
        EXPECT_EQ(GetObjectType(movedRegion.GetHRGN()), OBJ_REGION);
        // A target releases what it held before taking over.
        ClipRegion other(&rect);
        other = std::move(movedRegion);
        EXPECT_EQ(GdiObjectCount(), start + 6);
        DeletableDC empty;  // holds nothing: nothing to delete
    }
    EXPECT_EQ(GdiObjectCount(), start);
}

TEST_F(GdiHelpers, CreateReleasesTheOldHandleEvenWhenCreationFailsAndSizesAreReadFromTheHandle) {
    const ScreenDc screen;
    const DWORD start = GdiObjectCount();
    CompatibleBitmapOwner bitmap(screen, 8, 8);
    const HBITMAP first = bitmap.GetHBITMAP();
    EXPECT_FALSE(bitmap.Create(screen, -1, 5));
    EXPECT_FALSE(bitmap);
    EXPECT_EQ(GetObjectType(first), 0u);
    EXPECT_EQ(GdiObjectCount(), start);
    ClipRegion region;
    const RECT rect{1, 1, 2, 2};
    ASSERT_TRUE(region.Create(&rect));
    EXPECT_FALSE(region.Create(nullptr));
    EXPECT_EQ(GdiObjectCount(), start);
    CompatibleDC memory(screen);
    EXPECT_FALSE(memory.Create(reinterpret_cast<HDC>(std::uintptr_t{0x30000FFF})));
    EXPECT_EQ(GdiObjectCount(), start);
    // A DIB section's size is read from the bitmap held, none when none is.
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), 7, -3, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    ASSERT_TRUE(bitmap.CreateDIBSection(nullptr, &info));
    EXPECT_EQ(bitmap.CalculateBitmapSize(), CSize(7, 3));
    bitmap.Release();
    EXPECT_EQ(bitmap.CalculateBitmapSize(), CSize(0, 0));
}

TEST_F(GdiHelpers, IconOwnerGivenItsOwnIconKeepsIt) {
    IconOwner owner;
    const HICON icon = MakeIcon();
    owner.Update(icon);
    owner.Update(icon);
    EXPECT_EQ(static_cast<HICON>(owner), icon);
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(owner, &info));  // still alive
    DeleteObject(info.hbmMask);
    owner.Update(nullptr);
    EXPECT_FALSE(owner);
    EXPECT_FALSE(GetIconInfo(icon, &info));
}

TEST_F(GdiHelpers, StateBufferPutsFontColourAndModeBack) {
    const HDC screen = GetDC(nullptr);
    CDC dc;
    dc.Attach(screen);
    CFont font;
    font.CreatePointFont(90, L"Arial");
    SetTextColor(screen, RGB(1, 2, 3));
    {
        const DCStateBuffer buffer(&dc, TRANSPARENT, &font, RGB(200, 0, 0));
        EXPECT_EQ(GetBkMode(screen), TRANSPARENT);
        EXPECT_EQ(GetCurrentObject(screen, OBJ_FONT), font.GetSafeHandle());
        EXPECT_EQ(GetTextColor(screen), RGB(200, 0, 0));
        AfxLockTempMaps();
        AfxUnlockTempMaps();  // an idle clean-up inside the scope
    }
    EXPECT_EQ(GetBkMode(screen), OPAQUE);
    EXPECT_EQ(GetCurrentObject(screen, OBJ_FONT), GetStockObject(SYSTEM_FONT));
    EXPECT_EQ(GetTextColor(screen), RGB(1, 2, 3));
    EXPECT_TRUE(font.DeleteObject());
    // A null CDC, or an empty one, is left alone.
    { const DCStateBuffer nothing(nullptr, TRANSPARENT, &font, 0); }
    CDC empty;
    { const DCStateBuffer nothing(&empty, CRect(0, 0, 1, 1)); }
    ReleaseDC(nullptr, dc.Detach());
}

TEST_F(GdiHelpers, StateBufferPutsThePreviousClipBackSoNestedBuffersKeepTheOuterOne) {
    const ScreenDc screen;
    CDC* dc = CDC::FromHandle(screen);
    const HRGN read = CreateRectRgn(0, 0, 0, 0);
    const auto box = [&] {
        RECT r{};
        if (GetClipRgn(screen, read) != 1) return CRect(-1, -1, -1, -1);
        GetRgnBox(read, &r);
        return CRect(r);
    };
    {
        const DCStateBuffer outer(dc, CRect(0, 0, 100, 100));
        {
            const DCStateBuffer inner(dc, CRect(10, 10, 20, 20));
            EXPECT_EQ(box(), CRect(10, 10, 20, 20));
        }
        EXPECT_EQ(box(), CRect(0, 0, 100, 100));
    }
    EXPECT_EQ(box(), CRect(-1, -1, -1, -1));  // no clipping region, as before
    DeleteObject(read);
    AfxLockTempMaps();
    AfxUnlockTempMaps();
}

class TextSize : public vlibtest::GdiTest {
protected:
    // Measured on a screen DC of their own (the system font for null).
    static LONG Width(HFONT font, const std::wstring& text) {
        const ScreenDc dc;
        const Selection selection(dc, font != nullptr ? static_cast<HGDIOBJ>(font) : GetStockObject(SYSTEM_FONT));
        return TextWidth(dc, text);
    }
    static LONG LineHeight(HFONT font) {
        const ScreenDc dc;
        const Selection selection(dc, font);
        TEXTMETRICW tm{};
        GetTextMetricsW(dc, &tm);
        return tm.tmHeight;
    }
    FontScope m_font{L"Arial", -11};
};

TEST_F(TextSize, WidthIsTheLongestLineAndSelectsTheFontBack) {
    const DWORD start = GdiObjectCount();
    {
        TextSizeCalculator calculator;
        const ScreenDc dc;
        const Selection selection(dc, m_font);
        EXPECT_EQ(calculator.Width(L"WIG20", m_font), TextWidth(dc, L"WIG20"));
        EXPECT_EQ(calculator.Width(L"ab\r\nlonger line", m_font), TextWidth(dc, L"longer line"));
        EXPECT_EQ(calculator.Width(L"", m_font), 0);
        const HFONT gone = CreateFontW(-11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, L"Arial");
        EXPECT_GT(calculator.Width(L"x", gone), 0);
        EXPECT_TRUE(DeleteObject(gone));             // not left selected
        EXPECT_EQ(calculator.Width(L"x", gone), 0);  // a font that cannot be selected
        EXPECT_EQ(calculator.Width(std::wstring_view(L"x", std::size_t{INT_MAX} + 1), m_font), 0);
        TextSizeCalculator moved(std::move(calculator));
        EXPECT_EQ(moved.Width(L"WIG20", m_font), TextWidth(dc, L"WIG20"));
        EXPECT_EQ(calculator.Width(L"WIG20", m_font), 0);  // no DC left
    }
    EXPECT_EQ(GdiObjectCount(), start);
}

TEST_F(TextSize, RectanglesOfOneOrMoreLines) {
    const LONG line = LineHeight(m_font);
    const ScreenDc dc;
    const auto pair = std::make_optional(std::make_pair(static_cast<HDC>(dc), static_cast<HFONT>(m_font)));
    const CRect two = TextSizeCalculator::GetTextRect(pair, L"one\ntwo", false);
    const CRect one = TextSizeCalculator::GetTextRect(pair, L"one\ntwo", true);
    EXPECT_EQ(two.Height(), 2 * line);
    EXPECT_EQ(one.Height(), line);
    EXPECT_GT(one.Width(), two.Width());
    EXPECT_EQ(TextSizeCalculator::GetTextSize(pair, L"one\ntwo", false), two.Size());
    EXPECT_EQ(GetCurrentObject(dc, OBJ_FONT), GetStockObject(SYSTEM_FONT));  // the caller's DC as it was
    EXPECT_TRUE(
        TextSizeCalculator::GetTextRect(std::make_pair(HDC{}, static_cast<HFONT>(m_font)), L"x", true).IsRectNull());
    EXPECT_TRUE(TextSizeCalculator::GetTextRect(pair, L"", true).IsRectNull());
    EXPECT_TRUE(
        TextSizeCalculator::GetTextRect(pair, std::wstring_view(L"x", std::size_t{INT_MAX} + 1), true).IsRectNull());
    // Without a pair: DEFAULT_GUI_FONT on a screen DC of its own, given back.
    const DWORD start = GdiObjectCount();
    const Selection gui(dc, GetStockObject(DEFAULT_GUI_FONT));
    EXPECT_EQ(TextSizeCalculator::GetTextRect(std::nullopt, L"WIG20", true),
              CRect(0, 0, TextWidth(dc, L"WIG20"), line));
    EXPECT_EQ(GdiObjectCount(), start);
}

TEST_F(TextSize, StaticControlCoreWrapsAtTheStartWidthAndNeverModifiesTheText) {
    const LONG word = Width(m_font, L"quotation");
    const ScreenDc dc;
    static const wchar_t text[] = L"quotation quotation";
    const CRect client(5, 6, 5 + word, 50);
    const CRect wrapped =
        TextSizeCalculatorTestAccess::InDc(client, dc, m_font, text, DT_WORDBREAK | DT_MODIFYSTRING | DT_END_ELLIPSIS);
    EXPECT_EQ(wrapped, CRect(5, 6, 5 + word, 6 + 2 * LineHeight(m_font)));
    EXPECT_EQ(std::wstring(text), L"quotation quotation");
    EXPECT_EQ(GetCurrentObject(dc, OBJ_FONT), GetStockObject(SYSTEM_FONT));
    EXPECT_TRUE(TextSizeCalculatorTestAccess::InDc(client, nullptr, m_font, text, 0).IsRectNull());
}

// The text rectangles of real static controls: measured in the font set
// with SetFont on the control's own DC, from its client or window rectangle.
class StaticText : public TextSize {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_parent.CreateEx(0, L"Message", L"", WS_OVERLAPPED, 100, 200, 400, 300, nullptr, nullptr));
    }
    CWnd m_parent;
};

TEST_F(StaticText, RectanglesStartAtTheClientOrWindowRectangleAndMeasureTheControlsFont) {
    const LONG word = Width(m_font, L"quotation");
    const LONG line = LineHeight(m_font);
    CFont* font = CFont::FromHandle(m_font);
    const struct {
        DWORD style;
        int edge;
    } cases[] = {{SS_LEFT, 0}, {WS_BORDER, 1}, {SS_SUNKEN, 1}, {WS_BORDER | SS_SUNKEN, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.style);
        CStatic control;
        // Wide enough for one word and its edges: the second word wraps.
        const int width = word + 2 * c.edge;
        ASSERT_TRUE(control.Create(L"", c.style, CRect(10, 20, 10 + width, 60), &m_parent));
        control.SetFont(font);
        const CRect client = TextSizeCalculator::GetTextClientRectFromStatic(control, L"quotation", DT_SINGLELINE);
        EXPECT_EQ(client, CRect(0, 0, word, line));
        const CRect window = TextSizeCalculator::GetTextWindowRectFromStatic(control, L"quotation", DT_SINGLELINE);
        EXPECT_EQ(window, CRect(110, 220, 110 + word, 220 + line));  // screen coordinates of the window's corner
        // DT_WORDBREAK wraps at the start rectangle's width, which the edges
        // narrow for the client rectangle only.
        const CRect wrapped =
            TextSizeCalculator::GetTextClientRectFromStatic(control, L"quotation quotation", DT_WORDBREAK);
        EXPECT_EQ(wrapped, CRect(0, 0, word, 2 * line));
        EXPECT_TRUE(TextSizeCalculator::GetTextClientRectFromStatic(control, L"", DT_WORDBREAK).IsRectNull());
        // Without a font, the system font of the control's DC.
        control.SetFont(nullptr);
        EXPECT_EQ(TextSizeCalculator::GetTextClientRectFromStatic(control, L"quotation", DT_SINGLELINE).Width(),
                  Width(nullptr, L"quotation"));
    }
}

TEST_F(StaticText, AControlWithoutALiveWindowMeasuresNothing) {
    CStatic control;
    EXPECT_TRUE(TextSizeCalculator::GetTextClientRectFromStatic(control, L"x", 0).IsRectNull());
    EXPECT_TRUE(TextSizeCalculator::GetTextWindowRectFromStatic(control, L"x", 0).IsRectNull());
    ASSERT_TRUE(control.Create(L"", 0, CRect(0, 0, 50, 20), &m_parent));
    const HWND hwnd = control.Detach();
    ASSERT_TRUE(DestroyWindow(hwnd));
    ASSERT_TRUE(control.Attach(hwnd));  // a stale handle: the CWnd does not know it is gone
    EXPECT_TRUE(TextSizeCalculator::GetTextWindowRectFromStatic(control, L"x", 0).IsRectNull());
    EXPECT_TRUE(TextSizeCalculator::GetTextClientRectFromStatic(control, L"x", 0).IsRectNull());
}

}  // namespace
