// Monitors of a real X server (the binary's own Xvfb with xrandr layouts):
// virtual-screen coordinates, the three MONITOR_DEFAULTTO flags, handles of
// detached monitors, changes seen at once, and work areas from published
// work areas, the struts of managed windows and _NET_WORKAREA.
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/user/Keyboard.h"
#include "platform/user/Monitor.h"
#include "platform/user/SystemMetrics.h"
#include "tests/support/Child.h"
#include "tests/support/LastError.h"
#include "tests/support/Rect.h"
#include "tests/support/Seam.h"
#include "tests/support/Wait.h"
#include "tests/support/XClients.h"
#include "tests/support/XServer.h"

namespace {

using vlibtest::FailsWith;
using vlibtest::XServer;

struct Seen {
    std::wstring name;
    RECT rect;
    RECT work;
    bool primary;
    HMONITOR handle;
};

class Monitors : public ::testing::Test {
protected:
    void SetUp() override {
        m_x = XServer::Shared();
        ASSERT_NE(m_x, nullptr);
        // Work-area properties another test left on the root window.
        for (const char* name : {"_GTK_WORKAREAS_D0", "_NET_WORKAREA", "_NET_CLIENT_LIST", "_NET_CURRENT_DESKTOP"}) {
            m_x->Run({"xprop", "-root", "-remove", name});
        }
        ASSERT_TRUE(m_x->SetMonitors(vlibtest::ThreeMonitors()));
    }

    static std::vector<Seen> Enumerate() {
        std::vector<Seen> seen;
        const BOOL ok = EnumDisplayMonitors(
            nullptr, nullptr,
            [](HMONITOR monitor, HDC, LPRECT rect, LPARAM data) -> BOOL {
                MONITORINFOEXW info{};
                info.cbSize = sizeof info;
                EXPECT_TRUE(GetMonitorInfoW(monitor, &info));
                EXPECT_EQ(info.rcMonitor, *rect);
                reinterpret_cast<std::vector<Seen>*>(data)->push_back(
                    {info.szDevice, info.rcMonitor, info.rcWork, info.dwFlags == MONITORINFOF_PRIMARY, monitor});
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&seen));
        EXPECT_TRUE(ok);
        return seen;
    }

    static std::wstring NameOf(HMONITOR monitor) {
        if (monitor == nullptr) return L"(none)";
        MONITORINFOEXW info{};
        info.cbSize = sizeof info;
        return GetMonitorInfoW(monitor, &info) ? info.szDevice : L"(invalid)";
    }

    static RECT WorkOf(const wchar_t* name) {
        for (const auto& monitor : Enumerate()) {
            if (monitor.name == name) return monitor.work;
        }
        ADD_FAILURE() << "no monitor";
        return {};
    }

    XServer* m_x = nullptr;
};

TEST_F(Monitors, ThreeMonitorsInVirtualScreenCoordinatesThePrimaryFirst) {
    const auto seen = Enumerate();
    ASSERT_EQ(seen.size(), 3u);
    const struct {
        const wchar_t* name;
        RECT rect;
    } expected[] = {{L"MAIN", {0, 0, 1920, 1200}}, {L"LEFT", {-1920, 120, 0, 1200}}, {L"RIGHT", {1920, 0, 3840, 1200}}};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(seen[i].name, expected[i].name);
        EXPECT_EQ(seen[i].rect, expected[i].rect);
        EXPECT_EQ(seen[i].work, expected[i].rect);  // nothing reserves space
        EXPECT_EQ(seen[i].primary, i == 0);
    }
    const std::pair<int, int> metrics[] = {
        {SM_CXSCREEN, 1920},        {SM_CYSCREEN, 1200},        {SM_XVIRTUALSCREEN, -1920}, {SM_YVIRTUALSCREEN, 0},
        {SM_CXVIRTUALSCREEN, 5760}, {SM_CYVIRTUALSCREEN, 1200}, {SM_CMONITORS, 3},          {42, 0}};
    for (const auto& [index, value] : metrics) EXPECT_EQ(GetSystemMetrics(index), value) << index;
    // A monitor above the primary has negative coordinates.
    ASSERT_TRUE(m_x->SetMonitors({{"*MAIN", 0, 1200, 1920, 1200}, {"TOP", 0, 0, 2560, 1200}}));
    const auto above = Enumerate();
    ASSERT_EQ(above.size(), 2u);
    EXPECT_EQ(above[1].rect, (RECT{0, -1200, 2560, 0}));
    for (const auto& [index, value] : {std::pair{SM_YVIRTUALSCREEN, -1200}, std::pair{SM_CYVIRTUALSCREEN, 2400},
                                       std::pair{SM_CXVIRTUALSCREEN, 2560}}) {
        EXPECT_EQ(GetSystemMetrics(index), value) << index;
    }
}

TEST_F(Monitors, MonitorFromPointFollowsTheThreeFlags) {
    const struct {
        POINT point;
        DWORD flags;
        const wchar_t* name;
    } cases[] = {
        {{0, 0}, MONITOR_DEFAULTTONULL, L"MAIN"},
        {{1919, 1199}, MONITOR_DEFAULTTONULL, L"MAIN"},
        {{1920, 0}, MONITOR_DEFAULTTONULL, L"RIGHT"},  // right edges are outside
        {{-1920, 120}, MONITOR_DEFAULTTONULL, L"LEFT"},
        {{-100, 50}, MONITOR_DEFAULTTONULL, L"(none)"},
        {{-100, 50}, MONITOR_DEFAULTTOPRIMARY, L"MAIN"},
        {{-100, 50}, MONITOR_DEFAULTTONEAREST, L"LEFT"},  // 70 above LEFT, 100 left of MAIN
        {{100000, 100000}, MONITOR_DEFAULTTONEAREST, L"RIGHT"},
        {{INT_MIN, INT_MIN}, MONITOR_DEFAULTTONEAREST, L"LEFT"},
        {{INT_MAX, INT_MAX}, MONITOR_DEFAULTTONEAREST, L"RIGHT"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NameOf(MonitorFromPoint(c.point, c.flags)), c.name) << c.point.x << "," << c.point.y;
    }
    EXPECT_TRUE(FailsWith(ERROR_INVALID_FLAGS, [] { return MonitorFromPoint({0, 0}, 3) != nullptr; }));
}

TEST_F(Monitors, MonitorFromWindowOfNoWindowIsThePrimaryUnlessNoneIsAskedFor) {
    for (const auto& [flags, name] :
         {std::pair{MONITOR_DEFAULTTOPRIMARY, L"MAIN"}, std::pair{MONITOR_DEFAULTTONEAREST, L"MAIN"},
          std::pair{MONITOR_DEFAULTTONULL, L"(none)"}}) {
        EXPECT_EQ(NameOf(MonitorFromWindow(nullptr, flags)), name) << flags;
    }
    EXPECT_TRUE(FailsWith(ERROR_INVALID_FLAGS, [] { return MonitorFromWindow(nullptr, 3) != nullptr; }));
}

TEST_F(Monitors, MonitorFromRectTakesTheLargestPartAndEmptyRectanglesTheirCorner) {
    const struct {
        RECT rect;
        DWORD flags;
        const wchar_t* name;
    } cases[] = {
        {{1800, 0, 2100, 100}, MONITOR_DEFAULTTONULL, L"RIGHT"},  // 120 on MAIN, 180 on RIGHT
        {{-10, 500, 10, 600}, MONITOR_DEFAULTTONULL, L"MAIN"},    // equal parts: the first enumerated
        {{INT_MIN, INT_MIN, INT_MAX, INT_MAX}, MONITOR_DEFAULTTONULL, L"MAIN"},
        {{-300, 60, -200, 100}, MONITOR_DEFAULTTONULL, L"(none)"},
        {{-300, 60, -200, 100}, MONITOR_DEFAULTTONEAREST, L"LEFT"},  // 21 above LEFT, 201 left of MAIN
        {{5000, 5000, 6000, 6000}, MONITOR_DEFAULTTOPRIMARY, L"MAIN"},
        // Empty and inverted: the top-left corner decides.
        {{2000, 10, 2000, 10}, MONITOR_DEFAULTTONULL, L"RIGHT"},
        {{10, 10, -3000, -3000}, MONITOR_DEFAULTTONULL, L"MAIN"},
        {{INT_MAX, INT_MAX, INT_MIN, INT_MIN}, MONITOR_DEFAULTTONEAREST, L"RIGHT"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NameOf(MonitorFromRect(&c.rect, c.flags)), c.name)
            << c.rect.left << "," << c.rect.top << "," << c.rect.right << "," << c.rect.bottom;
    }
    EXPECT_TRUE(FailsWith(ERROR_INVALID_PARAMETER,
                          [] { return MonitorFromRect(nullptr, MONITOR_DEFAULTTONEAREST) != nullptr; }));
}

// The layout is given again without asking the server while its connection
// is silent.  A change must still be seen by the next query: at once, when
// another desktop call read its announcement from the connection first, and
// when the connection cannot be polled.
TEST_F(Monitors, AChangeIsSeenByTheNextQueryAlsoAfterAnotherCallReadItOrWhenPollingFails) {
    const auto failPoll = [](std::optional<vlibtest::SeamScope>& seam) {
        seam.emplace([](auto& s) { s.poll = [](pollfd*, nfds_t, int) { return errno = ENOMEM, -1; }; });
    };
    for (const std::string how : {"at once", "another call reads first", "polling fails"}) {
        for (int x : {0, 1920, 300, 3840}) {
            SCOPED_TRACE(how + " " + std::to_string(x));
            std::optional<vlibtest::SeamScope> seam;
            if (how == "polling fails") failPoll(seam);
            ASSERT_FALSE(Enumerate().empty());
            seam.reset();
            ASSERT_TRUE(m_x->SetMonitors({{"*MAIN", 1920, 0, 1920, 1200}, {"MOVING", x, 1200, 1280, 1024}}));
            if (how == "polling fails") failPoll(seam);
            if (how == "another call reads first") GetAsyncKeyState(VK_SHIFT);  // reads the connection
            const auto seen = Enumerate();
            ASSERT_EQ(seen.size(), 2u);
            EXPECT_EQ(seen[1].rect, (RECT{x - 1920, 1200, x - 640, 2224}));
        }
    }
}

// A query answers from the layout its MonitorFrom… call read; a handle kept
// from before a change reports the new layout.
TEST_F(Monitors, AHandleKeptFromBeforeAChangeReportsTheNewLayout) {
    ASSERT_TRUE(m_x->SetMonitors({{"*MAIN", 1920, 0, 1920, 1200}, {"MOVING", 0, 1200, 1280, 1024}}));
    const HMONITOR moving = MonitorFromPoint({-1000, 1500}, MONITOR_DEFAULTTONULL);
    MONITORINFO info{};
    info.cbSize = sizeof info;
    ASSERT_TRUE(GetMonitorInfoW(moving, &info));
    EXPECT_EQ(info.rcMonitor, (RECT{-1920, 1200, -640, 2224}));
    const HMONITOR main = MonitorFromPoint({0, 0}, MONITOR_DEFAULTTONULL);
    ASSERT_EQ(MonitorFromPoint({-1000, 1500}, MONITOR_DEFAULTTONULL), moving);  // its info asked only later
    ASSERT_TRUE(m_x->SetMonitors({{"*MAIN", 1920, 0, 1920, 1200}, {"MOVING", 3840, 1200, 1280, 1024}}));
    for (const HMONITOR handle : {moving, main, moving}) {
        ASSERT_TRUE(GetMonitorInfoW(handle, &info));
        EXPECT_EQ(info.rcMonitor, (handle == main ? RECT{0, 0, 1920, 1200} : RECT{1920, 1200, 3200, 2224}));
    }
}

TEST_F(Monitors, ADetachedMonitorsHandleFailsAndIsNotGivenToAnother) {
    const auto before = Enumerate();
    ASSERT_EQ(before.size(), 3u);
    ASSERT_TRUE(m_x->Run({"xrandr", "--delmonitor", "RIGHT"}));
    MONITORINFO info{};
    info.cbSize = sizeof info;
    EXPECT_TRUE(FailsWith(ERROR_INVALID_MONITOR_HANDLE, [&] { return GetMonitorInfoW(before[2].handle, &info); }));
    // The others keep their handles; a monitor attached again gets a new one.
    const auto after = Enumerate();
    ASSERT_EQ(after.size(), 2u);
    EXPECT_EQ(after[0].handle, before[0].handle);
    EXPECT_EQ(after[1].handle, before[1].handle);
    ASSERT_TRUE(m_x->Run({"xrandr", "--setmonitor", "RIGHT", "1920/480x1200/300+3840+0", "none"}));
    const auto again = Enumerate();
    ASSERT_EQ(again.size(), 3u);
    EXPECT_NE(again[2].handle, before[2].handle);
    EXPECT_FALSE(GetMonitorInfoW(before[2].handle, &info));
}

TEST_F(Monitors, GetMonitorInfoTakesTheTwoRecordSizesOnly) {
    const HMONITOR main = MonitorFromPoint({0, 0}, MONITOR_DEFAULTTONULL);
    MONITORINFOEXW info{};
    for (const DWORD size : {DWORD{0}, DWORD{104}, DWORD{sizeof(MONITORINFO) + 1}}) {
        info.cbSize = size;
        EXPECT_TRUE(FailsWith(ERROR_INVALID_PARAMETER, [&] { return GetMonitorInfoW(main, &info); })) << size;
    }
    info.cbSize = sizeof(MONITORINFO);
    std::fill(std::begin(info.szDevice), std::end(info.szDevice), L'#');
    EXPECT_TRUE(GetMonitorInfoW(main, &info));
    EXPECT_EQ(info.szDevice[0], L'#');  // a MONITORINFO has no name to write
    info.cbSize = sizeof info;
    for (const HMONITOR bad : {static_cast<HMONITOR>(nullptr), reinterpret_cast<HMONITOR>(0x20001234)}) {
        EXPECT_TRUE(FailsWith(ERROR_INVALID_MONITOR_HANDLE, [&] { return GetMonitorInfoW(bad, &info); }));
    }
    EXPECT_FALSE(GetMonitorInfoW(main, nullptr));
}

TEST_F(Monitors, EnumerationClipsStopsAndRefusesDeviceContexts) {
    const RECT clip{-100, 0, 100, 50};
    std::vector<RECT> rects;
    EXPECT_TRUE(EnumDisplayMonitors(
        nullptr, &clip,
        [](HMONITOR, HDC, LPRECT rect, LPARAM data) -> BOOL {
            reinterpret_cast<std::vector<RECT>*>(data)->push_back(*rect);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&rects)));
    ASSERT_EQ(rects.size(), 1u);  // LEFT starts lower
    EXPECT_EQ(rects[0], (RECT{0, 0, 100, 50}));
    int calls = 0;
    EXPECT_FALSE(EnumDisplayMonitors(
        nullptr, nullptr,
        [](HMONITOR, HDC, LPRECT, LPARAM data) -> BOOL { return ++*reinterpret_cast<int*>(data) < 2; },
        reinterpret_cast<LPARAM>(&calls)));
    EXPECT_EQ(calls, 2);
    EXPECT_TRUE(FailsWith(ERROR_INVALID_PARAMETER, [] {
        return EnumDisplayMonitors(
            reinterpret_cast<HDC>(1), nullptr, [](HMONITOR, HDC, LPRECT, LPARAM) -> BOOL { return TRUE; }, 0);
    }));
}

TEST_F(Monitors, WorkAreasArePublishedPerMonitorOrCutFromOneForTheScreenAndNeverEmpty) {
    const auto set = [&](const char* name, const char* value) {
        return m_x->Run({"xprop", "-root", "-f", name, "32c", "-set", name, value}).has_value();
    };
    ASSERT_TRUE(set("_NET_WORKAREA", "0,0,4000,1100"));
    EXPECT_EQ(WorkOf(L"MAIN"), (RECT{0, 0, 1920, 1100}));
    EXPECT_EQ(WorkOf(L"LEFT"), (RECT{-1920, 120, 0, 1100}));
    EXPECT_EQ(WorkOf(L"RIGHT"), (RECT{1920, 0, 2080, 1100}));
    ASSERT_TRUE(set("_NET_WORKAREA", "0,0,100,100"));
    EXPECT_EQ(WorkOf(L"RIGHT"), (RECT{1920, 0, 3840, 1200}));  // outside it: the whole monitor
    // Published per monitor, in X coordinates: MAIN at 1920,0; LEFT at 0,120; RIGHT at 3840,0.
    ASSERT_TRUE(set("_GTK_WORKAREAS_D0", "0,120,1920,1040,1920,32,1920,1168,3840,0,1900,1200"));
    EXPECT_EQ(WorkOf(L"MAIN"), (RECT{0, 32, 1920, 1200}));
    EXPECT_EQ(WorkOf(L"LEFT"), (RECT{-1920, 120, 0, 1160}));
    EXPECT_EQ(WorkOf(L"RIGHT"), (RECT{1920, 0, 3820, 1200}));
}

TEST_F(Monitors, StrutsOfManagedWindowsShrinkOnlyTheirMonitor) {
    auto manager = vlibtest::Child::Start({"openbox", "--sm-disable"}, {"DISPLAY=" + m_x->Display()});
    ASSERT_TRUE(manager);
    ASSERT_TRUE(vlibtest::WaitFor([&] {
        const auto check = m_x->Run({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"});
        return check && check->find("window id") != std::string::npos;
    }));
    // A panel along the bottom of LEFT: 40 pixels of the 2400-pixel-high root window.
    const vlibtest::Dock dock(m_x->Display(), 0, 1160, 1920, 40, 2400 - 1160, 0, 1919);
    ASSERT_TRUE(vlibtest::WaitFor([&] {
        const auto list = m_x->Run({"xprop", "-root", "_NET_CLIENT_LIST"});
        if (list && list->find(dock.Id()) != std::string::npos) return true;
        dock.Remap();  // mapped while the manager was still starting
        return false;
    }));
    EXPECT_EQ(WorkOf(L"LEFT"), (RECT{-1920, 120, 0, 1160}));
    EXPECT_EQ(WorkOf(L"MAIN"), (RECT{0, 0, 1920, 1200}));
    EXPECT_EQ(WorkOf(L"RIGHT"), (RECT{1920, 0, 3840, 1200}));
}

}  // namespace
