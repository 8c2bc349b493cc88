// CWnd and CStatic over the platform's windows, the STATIC class's edges and
// font, and the DCs of windows: the client area as their surface, given back
// when their window goes.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/WinError.h"
#include "platform/mfc/AfxWin.h"
#include "tests/support/GdiTest.h"
#include "tests/support/LastError.h"
#include "tests/support/Wait.h"

namespace {

using vlibtest::FailsWith;
using vlibtest::GdiObjectCount;

class AfxWin : public vlibtest::GdiTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_parent.CreateEx(0, L"Message", L"parent", WS_OVERLAPPED, 40, 30, 400, 300, nullptr, nullptr));
    }
    CWnd m_parent;
};

TEST_F(AfxWin, StaticEdgesAreWhatWindowsComputes) {
    const struct {
        DWORD style;
        DWORD exStyle;
        int edge;
    } cases[] = {
        {SS_LEFT, 0, 0},
        {WS_BORDER, 0, 1},
        {SS_SUNKEN, 0, 1},  // becomes WS_EX_STATICEDGE
        {SS_LEFT, WS_EX_STATICEDGE, 1},
        {SS_LEFT, WS_EX_CLIENTEDGE, 2},
        {WS_BORDER | SS_SUNKEN, WS_EX_CLIENTEDGE, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.style << " " << c.exStyle);
        CStatic control;
        ASSERT_TRUE(
            control.CreateEx(c.exStyle, L"STATIC", L"x", WS_CHILD | c.style, CRect(10, 20, 110, 60), &m_parent, 7));
        CRect window;
        CRect client;
        control.GetWindowRect(&window);
        control.GetClientRect(&client);
        EXPECT_EQ(window, CRect(50, 50, 150, 90));  // the parent's client origin is (40, 30)
        EXPECT_EQ(client, CRect(0, 0, 100 - 2 * c.edge, 40 - 2 * c.edge));
        EXPECT_EQ((control.GetExStyle() & WS_EX_STATICEDGE) != 0,
                  (c.style & SS_SUNKEN) != 0 || (c.exStyle & WS_EX_STATICEDGE) != 0);
        // Resizing keeps the edges; a window smaller than them has no client area.
        control.MoveWindow(0, 0, 50, 30);
        control.GetClientRect(&client);
        EXPECT_EQ(client, CRect(0, 0, 50 - 2 * c.edge, 30 - 2 * c.edge));
        control.MoveWindow(0, 0, 1, 1);
        control.GetClientRect(&client);
        EXPECT_EQ(client.Size(), CSize(c.edge == 0 ? 1 : 0, c.edge == 0 ? 1 : 0));
    }
}

TEST_F(AfxWin, StaticKeepsTextAndFontAndIsAChildOfItsParent) {
    CStatic control;
    ASSERT_TRUE(control.Create(L"WIG20", SS_LEFT, CRect(0, 0, 80, 20), &m_parent, 12));
    EXPECT_EQ(control.GetParent(), &m_parent);
    EXPECT_NE(control.GetStyle() & WS_CHILD, 0u);
    EXPECT_EQ(control.GetFont(), nullptr);  // the system font until one is set
    CFont font;
    ASSERT_TRUE(font.CreatePointFont(80, L"Arial"));
    control.SetFont(&font);
    EXPECT_EQ(control.GetFont(), &font);  // the owning CFont of this thread
    CString text;
    control.GetWindowText(text);
    EXPECT_EQ(text, CString(L"WIG20"));
    control.SetWindowTextW(L"mWIG40 \u0141\u00f3d\u017a");
    control.GetWindowTextW(text);
    EXPECT_EQ(text, CString(L"mWIG40 \u0141\u00f3d\u017a"));
    EXPECT_EQ(control.GetWindowTextLength(), 11);
    control.SetFont(nullptr);  // given back before the font goes
}

TEST_F(AfxWin, TheWindowGoesWithItsCWndAndTheCWndNoticesItsWindowGoing) {
    HWND created = nullptr;
    {
        CStatic control;
        ASSERT_TRUE(control.Create(L"a", 0, CRect(0, 0, 10, 10), &m_parent));
        created = control.m_hWnd;
        EXPECT_EQ(CWnd::FromHandlePermanent(created), &control);
        EXPECT_TRUE(
            FailsWith(ERROR_ALREADY_EXISTS, [&] { return control.Create(L"b", 0, CRect(0, 0, 10, 10), &m_parent); }));
    }
    EXPECT_FALSE(IsWindow(created));
    EXPECT_EQ(CWnd::FromHandlePermanent(created), nullptr);

    // Destroyed by its handle, or with its parent: the CWnd is left empty.
    CStatic byHandle, byParent;
    CWnd parent;
    ASSERT_TRUE(parent.CreateEx(0, L"Message", L"p", WS_OVERLAPPED, 0, 0, 50, 50, nullptr, nullptr));
    ASSERT_TRUE(byHandle.Create(L"", 0, CRect(0, 0, 10, 10), &parent));
    ASSERT_TRUE(byParent.Create(L"", 0, CRect(0, 0, 10, 10), &parent));
    EXPECT_TRUE(::DestroyWindow(byHandle.m_hWnd));
    EXPECT_EQ(byHandle.m_hWnd, nullptr);
    EXPECT_TRUE(parent.DestroyWindow());
    EXPECT_EQ(parent.m_hWnd, nullptr);
    EXPECT_EQ(byParent.m_hWnd, nullptr);
    EXPECT_TRUE(FailsWith(ERROR_INVALID_WINDOW_HANDLE, [&] { return byParent.DestroyWindow(); }));

    // Detached, the window stays; attached, it goes with its new CWnd; a
    // temporary never destroys it.
    CStatic detached;
    ASSERT_TRUE(detached.Create(L"", 0, CRect(0, 0, 10, 10), &m_parent));
    const HWND kept = detached.Detach();
    CWnd* temporary = CWnd::FromHandle(kept);
    ASSERT_NE(temporary, nullptr);
    EXPECT_EQ(temporary->m_hWnd, kept);
    EXPECT_EQ(CWnd::FromHandlePermanent(kept), nullptr);
    AfxLockTempMaps();
    EXPECT_TRUE(AfxUnlockTempMaps());
    EXPECT_TRUE(IsWindow(kept));
    {
        CWnd attached, second;
        ASSERT_TRUE(attached.Attach(kept));
        EXPECT_TRUE(FailsWith(ERROR_ALREADY_EXISTS, [&] { return second.Attach(kept); }));
    }
    EXPECT_FALSE(IsWindow(kept));
}

// A window class of the application: its ON_MESSAGE entry answers first,
// the class's procedure the rest; PostNcDestroy comes last.
class CQuoteLabel : public CStatic {
public:
    int m_postNcDestroyed = 0;
    LRESULT OnQuote(WPARAM wParam, LPARAM lParam) { return static_cast<LRESULT>(wParam + lParam); }

protected:
    void PostNcDestroy() override { ++m_postNcDestroyed; }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CQuoteLabel, CStatic)
ON_MESSAGE(WM_APP + 1, &CQuoteLabel::OnQuote)
END_MESSAGE_MAP()

TEST_F(AfxWin, HookedWindowsRunTheMessageMapThenTheClassProcedure) {
    CQuoteLabel label;
    ASSERT_TRUE(label.Create(L"x", 0, CRect(0, 0, 10, 10), &m_parent));
    EXPECT_EQ(label.SendMessage(WM_APP + 1, 40, 2), 42);
    const HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    label.SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(font));
    EXPECT_EQ(label.SendMessage(WM_GETFONT), reinterpret_cast<LRESULT>(font));
    EXPECT_TRUE(label.DestroyWindow());
    EXPECT_EQ(label.m_postNcDestroyed, 1);
    EXPECT_EQ(label.m_hWnd, nullptr);
}

TEST_F(AfxWin, WindowDcHasTheSystemFontAndGoesWithItsWindow) {
    CStatic control;
    ASSERT_TRUE(control.Create(L"x", 0, CRect(0, 0, 10, 10), &m_parent));
    CFont font;
    ASSERT_TRUE(font.CreatePointFont(80, L"Arial"));
    control.SetFont(&font);
    const DWORD start = GdiObjectCount();

    CDC* dc = control.GetDC();
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(GetCurrentObject(*dc, OBJ_FONT), GetStockObject(SYSTEM_FONT));
    EXPECT_EQ(GetObjectType(*dc), OBJ_DC);
    // Its surface is the client area, as the window is now; clipping cuts it.
    CRect box;
    const auto expectClip = [&](HDC of, int kind, const CRect& expected) {
        EXPECT_EQ(GetClipBox(of, &box), kind);
        EXPECT_EQ(box, expected);
    };
    expectClip(*dc, SIMPLEREGION, CRect(0, 0, 10, 10));
    control.MoveWindow(0, 0, 30, 20);
    expectClip(*dc, SIMPLEREGION, CRect(0, 0, 30, 20));
    CRgn clip;
    ASSERT_TRUE(clip.CreateRectRgn(25, 5, 60, 60));
    dc->SelectClipRgn(&clip);
    expectClip(*dc, SIMPLEREGION, CRect(25, 5, 30, 20));
    clip.SetRectRgn(40, 40, 60, 60);
    dc->SelectClipRgn(&clip);
    expectClip(*dc, NULLREGION, CRect());
    EXPECT_TRUE(FailsWith(ERROR_INVALID_PARAMETER, [&] { return GetClipBox(*dc, nullptr) != ERROR; }));
    EXPECT_EQ(control.ReleaseDC(dc), 1);
    ASSERT_TRUE(clip.DeleteObject());
    EXPECT_EQ(GdiObjectCount(), start);
    EXPECT_TRUE(FailsWith(ERROR_INVALID_HANDLE, [&] { return GetClipBox(*dc, &box) != ERROR; }));  // released
    const HDC memory = CreateCompatibleDC(nullptr);                                                // its 1x1 bitmap
    expectClip(memory, SIMPLEREGION, CRect(0, 0, 1, 1));
    EXPECT_TRUE(DeleteDC(memory));

    // One DC of another window cannot be released with this one.
    const HDC out = ::GetDC(control.m_hWnd);
    ASSERT_NE(out, nullptr);
    EXPECT_TRUE(FailsWith(ERROR_INVALID_PARAMETER, [&] { return ::ReleaseDC(m_parent.m_hWnd, out); }));
    EXPECT_EQ(GdiObjectCount(), start + 1);

    // Destroying the window releases the DC left out; its handle is stale.
    const HWND gone = control.m_hWnd;
    control.SetFont(nullptr);
    EXPECT_TRUE(control.DestroyWindow());
    EXPECT_EQ(GdiObjectCount(), start);
    EXPECT_TRUE(FailsWith(ERROR_INVALID_HANDLE, [&] { return ::ReleaseDC(gone, out); }));
    EXPECT_TRUE(FailsWith(ERROR_INVALID_WINDOW_HANDLE, [&] { return ::GetDC(gone); }));
    EXPECT_TRUE(FailsWith(ERROR_INVALID_WINDOW_HANDLE, [&] { return control.GetDC(); }));
}

// GetDC from another thread while the window's thread destroys it: every DC
// is either given back by its taker or released with the window.
TEST_F(AfxWin, RaceGettingDcsWhileTheWindowIsDestroyedLeaksNone) {
    const DWORD start = GdiObjectCount();
    for (int round = 0; round < 20; ++round) {
        CStatic control;
        ASSERT_TRUE(control.Create(L"x", 0, CRect(0, 0, 10, 10), &m_parent));
        const HWND hwnd = control.m_hWnd;
        std::atomic<bool> started{false};
        std::thread taker([&] {
            started = true;
            for (int i = 0; i < 200; ++i) {
                const HDC dc = ::GetDC(hwnd);
                if (dc == nullptr) {
                    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
                    break;
                }
                if (i % 2 == 0) ::ReleaseDC(hwnd, dc);  // the others are left to the window
            }
        });
        vlibtest::WaitFor([&] { return started.load(); });
        EXPECT_TRUE(control.DestroyWindow());
        taker.join();
        EXPECT_EQ(GdiObjectCount(), start);
    }
}

}  // namespace
