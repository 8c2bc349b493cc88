// MFC's GDI classes: owning objects delete their handles, FromHandle hands
// out temporaries that live until the thread's idle clean-up or its end, and
// CDC's calls reach the DC.
#include <gtest/gtest.h>

#include <thread>

#include "platform/mfc/AfxGdi.h"
#include "tests/support/GdiTest.h"

namespace {

using vlibtest::GdiObjectCount;

class AfxGdi : public vlibtest::GdiTest {};

TEST_F(AfxGdi, OwningObjectsDeleteTheirHandlesAndDetachGivesThemBack) {
    const DWORD start = GdiObjectCount();
    HFONT kept = nullptr;
    {
        CFont font;
        ASSERT_TRUE(font.CreatePointFont(80, L"Arial"));
        LOGFONTW logfont{};
        ASSERT_EQ(font.GetLogFont(&logfont), static_cast<int>(sizeof logfont));
        EXPECT_EQ(logfont.lfHeight, -11);                  // 8 points at 96 DPI
        EXPECT_FALSE(font.CreatePointFont(90, L"Arial"));  // owns one already
        CRgn region;
        ASSERT_TRUE(region.CreateRectRgn(0, 0, 4, 4));
        CBitmap bitmap;
        CDC memory;
        ASSERT_TRUE(memory.CreateCompatibleDC(nullptr));
        ASSERT_TRUE(bitmap.CreateCompatibleBitmap(&memory, 2, 2));
        CFont other;
        other.CreateFont(-12, 0, 0, 0, FW_BOLD, 0, 0, 0, 0, 0, 0, 0, 0, L"Arial");
        kept = static_cast<HFONT>(other.Detach());
        EXPECT_EQ(GdiObjectCount(), start + 5);
    }
    EXPECT_EQ(GdiObjectCount(), start + 1);
    EXPECT_EQ(GetObjectType(kept), OBJ_FONT);
    EXPECT_TRUE(DeleteObject(kept));
}

TEST_F(AfxGdi, TemporariesLiveUntilTheIdleCleanUp) {
    HDC screen = GetDC(nullptr);
    CDC* temporary = CDC::FromHandle(screen);
    ASSERT_NE(temporary, nullptr);
    EXPECT_EQ(CDC::FromHandle(screen), temporary);  // one per handle
    CFont font;
    font.CreatePointFont(100, L"Arial");
    CFont* previous = temporary->SelectObject(&font);
    ASSERT_NE(previous, nullptr);
    EXPECT_EQ(previous->GetSafeHandle(), GetStockObject(SYSTEM_FONT));
    EXPECT_EQ(temporary->GetCurrentFont(), &font);  // the owning object, not a temporary
    EXPECT_EQ(temporary->SelectObject(previous), &font);
    // A nested lock keeps the temporaries; the outermost unlock ends them.
    AfxLockTempMaps();
    AfxLockTempMaps();
    EXPECT_FALSE(AfxUnlockTempMaps());
    EXPECT_EQ(CDC::FromHandle(screen), temporary);
    EXPECT_TRUE(AfxUnlockTempMaps());
    EXPECT_EQ(GetObjectType(screen), OBJ_DC);  // a temporary never releases its DC
    EXPECT_EQ(ReleaseDC(nullptr, screen), 1);
    EXPECT_EQ(CFont::FromHandle(static_cast<HFONT>(GetStockObject(BLACK_BRUSH))), nullptr);  // not a font
    EXPECT_EQ(CGdiObject::FromHandle(nullptr), nullptr);
}

TEST_F(AfxGdi, TemporariesEndWithTheirThread) {
    HDC screen = GetDC(nullptr);
    std::thread([screen] {
        CDC* temporary = CDC::FromHandle(screen);
        EXPECT_NE(temporary, nullptr);
        EXPECT_NE(CGdiObject::FromHandle(GetStockObject(WHITE_PEN)), nullptr);
    }).join();
    // The thread's temporaries are gone and left the DC alone.
    EXPECT_EQ(ReleaseDC(nullptr, screen), 1);
}

// CDC's own overloads: selecting a region clips and answers its kind, and
// text measures as it draws; its DC goes once.
TEST_F(AfxGdi, DeviceContextOverloadsReachTheDc) {
    CDC dc;
    ASSERT_TRUE(dc.CreateCompatibleDC(nullptr));
    CRgn clip;
    clip.CreateRectRgn(0, 0, 3, 3);
    EXPECT_EQ(dc.SelectObject(&clip), SIMPLEREGION);
    CFont font;
    font.CreatePointFont(80, L"Arial");
    CFont* previous = dc.SelectObject(&font);
    const CSize size = dc.GetTextExtent(CString(L"WIG20"));
    CRect rect(0, 0, 1, 1);
    EXPECT_EQ(dc.DrawText(CString(L"WIG20"), &rect, DT_CALCRECT), size.cy);
    EXPECT_EQ(rect.Width(), size.cx);
    EXPECT_GT(size.cx, 0);
    dc.SelectObject(previous);
    EXPECT_TRUE(dc.DeleteDC());
    EXPECT_FALSE(dc.DeleteDC());
}

}  // namespace
