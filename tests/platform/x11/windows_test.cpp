// The X11 side of windows on the binary's own Xvfb: another program's
// windows enumerated top first with their rectangles, processes, owners and
// visibility, moved and asked to close; this process's top-level windows as
// X windows (seen with xwininfo and xdotool) that learn the display's moves
// and close requests; MonitorFromWindow; and windows without a display.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "platform/kernel/Threads.h"
#include "platform/user/Messages.h"
#include "platform/user/Monitor.h"
#include "platform/user/Window.h"
#include "platform/x11/internal/Desktop.h"
#include "tests/support/Child.h"
#include "tests/support/EnvScope.h"
#include "tests/support/LastError.h"
#include "tests/support/Rect.h"
#include "tests/support/Wait.h"
#include "tests/support/XClients.h"
#include "tests/support/XServer.h"

namespace {

using vlibtest::FailsWith;
using vlibtest::XServer;

// The top-level windows of one process, top of the Z order first.
std::vector<HWND> WindowsOf(DWORD processId) {
    struct Search {
        DWORD processId;
        std::vector<HWND> found;
    } search{processId, {}};
    EXPECT_TRUE(EnumWindows(
        [](HWND hwnd, LPARAM data) -> BOOL {
            auto* s = reinterpret_cast<Search*>(data);
            DWORD pid = 0;
            if (GetWindowThreadProcessId(hwnd, &pid) != 0 && pid == s->processId) s->found.push_back(hwnd);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search)));
    return search.found;
}

std::wstring TitleOf(HWND hwnd) {
    wchar_t text[64] = {};
    GetWindowTextW(hwnd, text, 64);
    return text;
}

class DisplayWindows : public ::testing::Test {
protected:
    void SetUp() override {
        m_x = XServer::Shared();
        ASSERT_NE(m_x, nullptr);
        // A window manager's list left by an earlier test would not be read
        // (its manager is gone), but the layout is this test's: MAIN at X 1920,0.
        ASSERT_TRUE(m_x->SetMonitors(vlibtest::ThreeMonitors()));
    }

    // Starts the window client; its window ids once it is ready.
    std::vector<std::string> StartClient(const std::vector<std::string>& windows) {
        std::vector<std::string> argv{VLIB_X_WINDOW_CLIENT};
        argv.insert(argv.end(), windows.begin(), windows.end());
        m_client = vlibtest::Child::Start(argv, {"DISPLAY=" + m_x->Display()});
        if (!m_client) return {};
        const auto line = m_client->ReadLine();
        if (!line) return {};
        std::istringstream words(*line);
        std::vector<std::string> ids;
        std::string word;
        words >> word;
        while (words >> word) ids.push_back(word);
        return ids;
    }

    // xwininfo's value of `field` ("Absolute upper-left X", "Map State"…).
    std::string WindowInfo(const std::string& id, const std::string& field) const {
        const auto out = m_x->Run({"xwininfo", "-id", id});
        if (!out) return {};
        const auto at = out->find(field + ":");
        if (at == std::string::npos) return {};
        const auto start = out->find_first_not_of(' ', at + field.size() + 1);
        return out->substr(start, out->find('\n', start) - start);
    }

    XServer* m_x = nullptr;
    std::unique_ptr<vlibtest::Child> m_client;
};

TEST_F(DisplayWindows, AnotherProgramsWindowsComeTopFirstWithTheirProcessOwnerAndVisibility) {
    const auto ids = StartClient({"main@2020,50,200,100", "hidden", "owned", "iconic"});
    ASSERT_EQ(ids.size(), 4u);
    const auto pid = static_cast<DWORD>(m_client->Pid());
    const auto found = WindowsOf(pid);
    ASSERT_EQ(found.size(), 4u);
    struct Expected {
        const wchar_t* title;
        BOOL visible;
        bool owned;
        bool minimised;
    };
    // Made in this order, so stacked bottom to top.
    const Expected expected[] = {{L"iconic", TRUE, false, true},
                                 {L"owned", TRUE, true, false},
                                 {L"hidden", FALSE, false, false},
                                 {L"main", TRUE, false, false}};
    const HWND main = found[3];
    for (std::size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(TitleOf(found[i]), expected[i].title);
        EXPECT_EQ(IsWindowVisible(found[i]), expected[i].visible);
        EXPECT_EQ(GetWindow(found[i], GW_OWNER), expected[i].owned ? main : nullptr);
        EXPECT_EQ((GetWindowLongW(found[i], GWL_STYLE) & WS_MINIMIZE) != 0, expected[i].minimised);
        DWORD processId = 0;
        EXPECT_EQ(GetWindowThreadProcessId(found[i], &processId), pid);
        EXPECT_EQ(processId, pid);
    }
    // Virtual-screen coordinates: the primary monitor starts at X 1920.
    RECT rect{};
    ASSERT_TRUE(GetWindowRect(main, &rect));
    EXPECT_EQ(rect, (RECT{100, 50, 300, 150}));
    // A second enumeration gives the same handles.
    EXPECT_EQ(WindowsOf(pid), found);
}

TEST_F(DisplayWindows, AnotherProgramsWindowMovesAndClosesOnlyWhenItTakesTheRequest) {
    const auto ids = StartClient({"main", "nodelete"});
    ASSERT_EQ(ids.size(), 2u);
    const auto found = WindowsOf(static_cast<DWORD>(m_client->Pid()));
    ASSERT_EQ(found.size(), 2u);
    const HWND nodelete = found[0];
    const HWND main = found[1];

    ASSERT_TRUE(MoveWindow(main, -1500, 200, 300, 150, TRUE));
    RECT rect{};
    ASSERT_TRUE(GetWindowRect(main, &rect));
    EXPECT_EQ(rect, (RECT{-1500, 200, -1200, 350}));
    EXPECT_EQ(WindowInfo(ids[0], "Absolute upper-left X"), "420");
    EXPECT_EQ(MonitorFromWindow(main, MONITOR_DEFAULTTONULL), MonitorFromPoint({-1500, 200}, MONITOR_DEFAULTTONULL));

    EXPECT_TRUE(FailsWith(ERROR_NOT_SUPPORTED, [&] { return PostMessageW(nodelete, WM_CLOSE, 0, 0); }));
    EXPECT_TRUE(FailsWith(ERROR_ACCESS_DENIED, [&] { return PostMessageW(main, WM_USER, 0, 0); }));

    ASSERT_TRUE(PostMessageW(main, WM_CLOSE, 0, 0));
    EXPECT_EQ(m_client->Wait(), 0);
    // Its windows went with it (the server frees the ones it did not destroy
    // itself when it reads the end of its connection, a moment after the
    // process ended): the handles fail and are not reused.
    EXPECT_TRUE(vlibtest::WaitFor([&] { return !IsWindow(main) && !IsWindow(nodelete); }));
    EXPECT_TRUE(FailsWith(ERROR_INVALID_WINDOW_HANDLE, [&] { return GetWindowRect(nodelete, &rect); }));
}

TEST_F(DisplayWindows, OwnTopLevelWindowsHaveAnXWindowAndAMonitorThatFollowThem) {
    const HWND hwnd = CreateWindowExW(0, L"Message", L"own-x11-window", WS_VISIBLE, 100, 200, 320, 240, nullptr,
                                      nullptr, nullptr, nullptr);
    ASSERT_NE(hwnd, nullptr);
    const auto id = m_x->Run({"xdotool", "search", "--name", "own-x11-window"});
    ASSERT_TRUE(id && !id->empty());
    const std::string x = std::to_string(std::stoul(*id));
    EXPECT_EQ(WindowInfo(x, "Map State"), "IsViewable");
    EXPECT_EQ(WindowInfo(x, "Absolute upper-left X"), "2020");
    EXPECT_EQ(WindowInfo(x, "Width"), "320");
    // It is listed as this process's window, on top, and on MAIN.
    ASSERT_FALSE(WindowsOf(GetCurrentProcessId()).empty());
    EXPECT_EQ(WindowsOf(GetCurrentProcessId()).front(), hwnd);
    const HMONITOR main = MonitorFromPoint({0, 0}, MONITOR_DEFAULTTONULL);
    EXPECT_EQ(MonitorFromWindow(hwnd, MONITOR_DEFAULTTONULL), main);

    ASSERT_TRUE(MoveWindow(hwnd, 1930, 10, 100, 50, TRUE));
    EXPECT_EQ(WindowInfo(x, "Absolute upper-left X"), "3850");
    EXPECT_EQ(WindowInfo(x, "Height"), "50");
    ShowWindow(hwnd, SW_HIDE);
    EXPECT_EQ(WindowInfo(x, "Map State"), "IsUnMapped");
    // Off every monitor: none, or the primary when asked for.
    ASSERT_TRUE(MoveWindow(hwnd, 90000, 90000, 10, 10, TRUE));
    EXPECT_EQ(MonitorFromWindow(hwnd, MONITOR_DEFAULTTONULL), nullptr);
    EXPECT_EQ(MonitorFromWindow(hwnd, MONITOR_DEFAULTTOPRIMARY), main);
    EXPECT_TRUE(FailsWith(ERROR_INVALID_FLAGS, [&] { return MonitorFromWindow(hwnd, 7) != nullptr; }));
    ASSERT_TRUE(DestroyWindow(hwnd));
    EXPECT_EQ(WindowInfo(x, "Map State"), "");
    // A window that is gone, or never was, has no monitor, whatever the flag.
    for (const HWND bad : {hwnd, reinterpret_cast<HWND>(0x4242)}) {
        for (const DWORD flags : {MONITOR_DEFAULTTONULL, MONITOR_DEFAULTTOPRIMARY, MONITOR_DEFAULTTONEAREST}) {
            EXPECT_TRUE(
                FailsWith(ERROR_INVALID_WINDOW_HANDLE, [&] { return MonitorFromWindow(bad, flags) != nullptr; }));
        }
    }
}

// The window rectangles a window procedure was told of, and its close requests
// (an empty rectangle).
std::vector<RECT> g_told;

LRESULT CALLBACK Telling(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    RECT rect{};
    if (message == WM_WINDOWPOSCHANGED && GetWindowRect(hwnd, &rect)) g_told.push_back(rect);
    if (message == WM_CLOSE) g_told.push_back(RECT{});
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

// Dispatches this thread's messages until `done` holds.
template <class Condition>
bool DispatchUntil(Condition done) {
    return vlibtest::WaitFor([&] {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        return done();
    });
}

// What the display does to a window (another client or a window manager
// moves it, sizes it, asks it to close) reaches the window's procedure on its
// thread; the window's own moves are not told back to it.
TEST_F(DisplayWindows, OwnWindowsLearnTheDisplaysMovesAndCloseRequests) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = Telling;
    wc.lpszClassName = L"VlibTestTelling";
    ASSERT_NE(RegisterClassExW(&wc), 0);
    const HWND hwnd = CreateWindowExW(0, L"VlibTestTelling", L"told-by-display", WS_VISIBLE, 100, 200, 320, 240,
                                      nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(hwnd, nullptr);
    const auto id = m_x->Run({"xdotool", "search", "--name", "told-by-display"});
    ASSERT_TRUE(id && !id->empty());
    const std::string x = std::to_string(std::stoul(*id));
    g_told.clear();
    const auto at = [&](const RECT& expected) {
        return DispatchUntil([&] {
            RECT rect{};
            return GetWindowRect(hwnd, &rect) && rect == expected;
        });
    };
    ASSERT_TRUE(MoveWindow(hwnd, 110, 210, 300, 200, TRUE));
    // MAIN's corner is at X 1920, 0.
    ASSERT_TRUE(m_x->Run({"xdotool", "windowmove", x, "2000", "50"}));
    EXPECT_TRUE(at(RECT{80, 50, 380, 250}));
    ASSERT_TRUE(m_x->Run({"xdotool", "windowsize", x, "111", "222"}));
    EXPECT_TRUE(at(RECT{80, 50, 191, 272}));
    EXPECT_EQ(g_told, (std::vector<RECT>{{110, 210, 410, 410}, {80, 50, 380, 250}, {80, 50, 191, 272}}));

    // The default procedure answers WM_CLOSE by destroying the window.
    ASSERT_TRUE(vlibtest::RequestClose(m_x->Display(), std::stoul(*id)));
    EXPECT_TRUE(DispatchUntil([&] { return !IsWindow(hwnd); }));
    EXPECT_EQ(std::count(g_told.begin(), g_told.end(), RECT{}), 1);
    EXPECT_EQ(WindowInfo(x, "Map State"), "");
    EXPECT_TRUE(UnregisterClassW(L"VlibTestTelling", nullptr));
}

TEST_F(DisplayWindows, WithoutADisplayOwnWindowsWorkAndAreTheOnlyOnesListed) {
    const auto ids = StartClient({"main"});
    ASSERT_EQ(ids.size(), 1u);
    const auto others = WindowsOf(static_cast<DWORD>(m_client->Pid()));
    ASSERT_EQ(others.size(), 1u);
    const vlibtest::EnvScope none("DISPLAY", nullptr);
    vplatform::x11::test::ResetDisplayForTesting();
    // The other program's window went with the connection.
    EXPECT_FALSE(IsWindow(others[0]));
    const HWND hwnd =
        CreateWindowExW(0, L"Message", L"alone", WS_VISIBLE, 5, 5, 50, 50, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(hwnd, nullptr);
    EXPECT_TRUE(IsWindowVisible(hwnd));
    ASSERT_TRUE(MoveWindow(hwnd, 7, 8, 60, 70, TRUE));
    RECT rect{};
    ASSERT_TRUE(GetWindowRect(hwnd, &rect));
    EXPECT_EQ(rect, (RECT{7, 8, 67, 78}));
    EXPECT_EQ(WindowsOf(GetCurrentProcessId()), std::vector<HWND>{hwnd});
    EXPECT_TRUE(WindowsOf(static_cast<DWORD>(m_client->Pid())).empty());
    EXPECT_TRUE(FailsWith(ERROR_REQUIRES_INTERACTIVE_WINDOWSTATION,
                          [&] { return MonitorFromWindow(hwnd, MONITOR_DEFAULTTOPRIMARY) != nullptr; }));
    DestroyWindow(hwnd);
    vplatform::x11::test::ResetDisplayForTesting();
}

}  // namespace
