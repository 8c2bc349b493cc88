// Monitor and Monitors on the binary's own Xvfb with three monitors side by
// side (LEFT, MAIN the primary, RIGHT): the point and rectangle rules,
// centring and clipping with their edge cases and without overflow, and
// snapshots that outlive a change of the layout.
#include <gtest/gtest.h>

#include <climits>
#include <set>
#include <stdexcept>
#include <string>

#include "gdi/Monitor.h"
#include "platform/mfc/AfxWin.h"
#include "tests/support/Rect.h"
#include "tests/support/XServer.h"

namespace {

using vlibtest::XServer;

constexpr RECT kMain{0, 0, 1920, 1200};
constexpr RECT kLeft{-1920, 120, 0, 1200};
constexpr RECT kRight{1920, 0, 3840, 1200};

class MonitorTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_x = XServer::Shared();
        ASSERT_NE(m_x, nullptr);
        ASSERT_TRUE(m_x->SetMonitors(vlibtest::ThreeMonitors()));
        const auto primary = Monitors::GetPrimaryMonitor();
        ASSERT_TRUE(primary);
        m_main = *primary;
    }

    XServer* m_x = nullptr;
    Monitor m_main;
};

TEST_F(MonitorTest, TheSnapshotHoldsAllMonitorsWithTheirRectanglesAndNames) {
    Monitors monitors;
    ASSERT_TRUE(monitors.Init());
    ASSERT_EQ(monitors.GetCount(), 3u);
    EXPECT_THROW(monitors.GetMonitor(3), std::out_of_range);
    std::set<std::wstring> names;
    for (std::uint64_t i = 0; i < monitors.GetCount(); ++i) {
        Monitor monitor = monitors.GetMonitor(i);
        const std::wstring name = monitor.GetName();
        names.insert(name);
        const RECT expected = name == L"MAIN" ? kMain : name == L"LEFT" ? kLeft : kRight;
        RECT rect{}, work{};
        ASSERT_TRUE(monitor.GetMonitorRect(&rect) && monitor.GetWorkAreaRect(&work));
        EXPECT_EQ(rect, expected) << i;
        EXPECT_EQ(work, expected) << i;  // nothing reserves space
        EXPECT_EQ(monitor.IsPrimaryMonitor(), name == L"MAIN");
    }
    EXPECT_EQ(names, (std::set<std::wstring>{L"LEFT", L"MAIN", L"RIGHT"}));
    EXPECT_FALSE(m_main.GetMonitorRect(nullptr));
    const CRect desktop = Monitors::GetVirtualDesktopRect();
    EXPECT_EQ(static_cast<const RECT&>(desktop), (RECT{-1920, 0, 3840, 1200}));
}

TEST_F(MonitorTest, PointsAndRectanglesAreOnTheMonitorByThePointRule) {
    const struct {
        RECT rect;
        bool on;
    } rects[] = {
        {kMain, false},  // the right and bottom edges are outside
        {{0, 0, 1919, 1199}, true},
        {{100, 100, 200, 200}, true},
        {{-1, 0, 100, 100}, false},
        {{1800, 100, 2000, 200}, false},
    };
    for (const auto& c : rects) EXPECT_EQ(m_main.IsOnMonitor(&c.rect), c.on) << c.rect.left << "," << c.rect.right;
    EXPECT_FALSE(m_main.IsOnMonitor(static_cast<const RECT*>(nullptr)));
    EXPECT_TRUE(m_main.IsOnMonitor(POINT{1919, 1199}));
    EXPECT_FALSE(m_main.IsOnMonitor(POINT{1920, 0}));
    EXPECT_FALSE(m_main.IsOnMonitor(POINT{0, 1200}));
    EXPECT_TRUE(m_main.IsOnMonitor(POINT{0, 0}));
}

TEST_F(MonitorTest, CentringKeepsTheSizeRoundsTowardZeroAndRefusesWhatDoesNotFit) {
    const struct {
        RECT in;
        bool ok;
        RECT out;
    } cases[] = {
        {{0, 0, 101, 10}, true, {909, 595, 1010, 605}},
        {{5000, 7000, 5000 + 2021, 7000 + 1301}, true, {-50, -50, 1971, 1251}},
        {{-20, -20, 1900, 1180}, true, {0, 0, 1920, 1200}},
        // 2^32 - 1 wide: the right edge would not fit a LONG.
        {{INT_MIN, 0, INT_MAX, 10}, false, {INT_MIN, 0, INT_MAX, 10}},
    };
    for (const auto& c : cases) {
        RECT rect = c.in;
        EXPECT_EQ(m_main.CenterRectToMonitor(&rect, false), c.ok) << c.in.left;
        EXPECT_EQ(rect, c.out);
    }
    EXPECT_FALSE(m_main.CenterRectToMonitor(nullptr, true));
    // On the left monitor, in negative coordinates.
    auto left = Monitors::GetNearestMonitor(&kLeft);
    ASSERT_TRUE(left);
    RECT rect{0, 0, 920, 80};
    ASSERT_TRUE(left->CenterRectToMonitor(&rect, true));
    EXPECT_EQ(rect, (RECT{-1420, 620, -500, 700}));
}

TEST_F(MonitorTest, WindowsAreTestedAndCentredByTheirRectangleAndABadOneIsLeftAlone) {
    CWnd window;
    ASSERT_TRUE(window.CreateEx(0, L"Message", L"centred", 0, 1920 + 10, 40, 500, 300, nullptr, nullptr));
    auto right = Monitors::GetNearestMonitor(&kRight);
    ASSERT_TRUE(right);
    EXPECT_TRUE(right->IsOnMonitor(&window));
    EXPECT_FALSE(m_main.IsOnMonitor(&window));
    ASSERT_TRUE(m_main.CenterWindowToMonitor(&window, false));
    RECT rect{};
    window.GetWindowRect(&rect);
    EXPECT_EQ(rect, (RECT{710, 450, 1210, 750}));
    EXPECT_TRUE(m_main.IsOnMonitor(&window));

    // A window that is gone, or none: false and nothing read or moved.
    CWnd gone;
    ASSERT_TRUE(gone.CreateEx(0, L"Message", L"gone", 0, 1, 1, 10, 10, nullptr, nullptr));
    const HWND stale = gone.GetSafeHwnd();
    ASSERT_TRUE(gone.DestroyWindow());
    CWnd attached;
    attached.Attach(stale);
    EXPECT_FALSE(m_main.IsOnMonitor(&attached));
    EXPECT_FALSE(m_main.CenterWindowToMonitor(&attached, true));
    attached.Detach();
    EXPECT_FALSE(m_main.IsOnMonitor(static_cast<const CWnd*>(nullptr)));
    EXPECT_FALSE(m_main.CenterWindowToMonitor(nullptr, true));
    window.DestroyWindow();
}

TEST_F(MonitorTest, MoveAndClipPushesOntoTheAreaAndCutsWhatSticksOut) {
    // The area is 1920 wide: 2400 is 1.25 times as wide, 2401 more.
    const struct {
        RECT in;
        bool ok;
        RECT out;
    } cases[] = {
        {{100, 100, 500, 400}, true, {100, 100, 500, 400}},          // inside: unchanged
        {{-100, 10, 2300, 20}, true, {0, 10, 1920, 20}},             // 1.25: moved and clipped
        {{-100, 10, 2301, 20}, true, {-100, 10, 2301, 20}},          // wider: left alone
        {{1920, 10, 2020, 20}, true, {0, 10, 100, 20}},              // a left edge at the right edge is outside
        {{10, 1200, 20, 1300}, true, {10, 0, 20, 100}},              // a top edge at the bottom edge too
        {{10, 1500, 20, 3000}, true, {10, 0, 20, 1200}},             // below: moved up, height clipped
        {{1800, 1100, 2000, 1300}, true, {1800, 1100, 1920, 1200}},  // inside, sticking out: cut
        {{10, INT_MIN, 20, INT_MAX}, true, {10, 0, 20, 1200}},       // a height beyond 32 bits
        {{INT_MIN, 10, INT_MIN + 100, 20}, true, {0, 10, 100, 20}},
    };
    for (const auto& c : cases) {
        CRect rect(c.in);
        EXPECT_EQ(m_main.MoveAndClipRectToMonitor(false, rect), c.ok) << c.in.left << "," << c.in.top;
        EXPECT_EQ(static_cast<const RECT&>(rect), c.out) << c.in.left << "," << c.in.top;
    }
}

TEST_F(MonitorTest, NearestMonitorsAndIndicesOfASnapshot) {
    Monitors never;
    const RECT onRight{3000, 100, 3100, 200};
    EXPECT_FALSE(never.GetNearestMonitorId(&onRight));
    Monitors monitors;
    ASSERT_TRUE(monitors.Init());
    EXPECT_FALSE(monitors.GetNearestMonitorId(nullptr));
    const auto nullRect = Monitors::GetNearestMonitor(nullptr);
    ASSERT_TRUE(nullRect);
    EXPECT_FALSE(nullRect->IsMonitor());

    const RECT farRight{9000, 100, 9100, 200};
    for (const RECT* rect : {&onRight, &farRight}) {
        const auto id = monitors.GetNearestMonitorId(rect);
        ASSERT_TRUE(id);
        EXPECT_EQ(Monitor(monitors.GetMonitor(*id)).GetName(), L"RIGHT");
    }
    const RECT farLeft{-9000, -900, -8000, -800};
    EXPECT_EQ(Monitors::GetNearestMonitor(&farLeft)->GetName(), L"LEFT");
}

TEST_F(MonitorTest, ADetachedMonitorFailsEveryQueryAndANewOneIsNotInAnOldSnapshot) {
    Monitors before;
    ASSERT_TRUE(before.Init());
    Monitor right = *Monitors::GetNearestMonitor(&kRight);
    ASSERT_EQ(right.GetName(), L"RIGHT");
    ASSERT_TRUE(m_x->SetMonitors({{"*MAIN", 1920, 0, 1920, 1200}, {"LEFT", 0, 120, 1920, 1080}}));
    EXPECT_FALSE(right.IsMonitor());
    RECT rect{1, 2, 3, 4};
    EXPECT_FALSE(right.GetMonitorRect(&rect));
    EXPECT_FALSE(right.CenterRectToMonitor(&rect, false));
    CRect clip(1, 2, 3, 4);
    EXPECT_FALSE(right.MoveAndClipRectToMonitor(true, clip));
    EXPECT_EQ(rect, (RECT{1, 2, 3, 4}));
    EXPECT_EQ(static_cast<const RECT&>(clip), (RECT{1, 2, 3, 4}));
    EXPECT_EQ(right.GetName(), L"");
    EXPECT_FALSE(right.IsPrimaryMonitor());

    // RIGHT again: a new monitor with a new handle, which the old list lacks.
    ASSERT_TRUE(m_x->SetMonitors(vlibtest::ThreeMonitors()));
    EXPECT_FALSE(right.IsMonitor());
    EXPECT_FALSE(before.GetNearestMonitorId(&kRight));
    EXPECT_TRUE(before.GetNearestMonitorId(&kMain));
    Monitors after;
    ASSERT_TRUE(after.Init());
    EXPECT_TRUE(after.GetNearestMonitorId(&kRight));
}

}  // namespace
