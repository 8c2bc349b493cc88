// Windows: their messages from creation to destruction, stale handles,
// classes, window data, rectangles, the owner thread's rights, windows going
// with their thread, and the window backend's view.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/user/internal/DisplayDriver.h"
#include "tests/platform/kernel/HandleTestSupport.h"
#include "tests/platform/user/UserTestSupport.h"
#include "tests/support/Rect.h"

namespace {

using vlibtest::FailsWith;
using vlibtest::MakeWindow;
using vlibtest::Recorder;

class Windows : public vlibtest::HandleCountTest {};

TEST_F(Windows, CreationAndDestructionSendTheirMessagesInWindowsOrder) {
    Recorder parentLog, childLog;
    const HWND parent = MakeWindow(&parentLog);
    ASSERT_NE(parent, nullptr);
    EXPECT_EQ(parentLog.Take(), (std::vector<UINT>{WM_NCCREATE, WM_NCCALCSIZE, WM_CREATE, WM_SIZE, WM_MOVE}));
    const HWND child = MakeWindow(&childLog, WS_CHILD | WS_VISIBLE, parent);
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(childLog.Take(), (std::vector<UINT>{WM_NCCREATE, WM_NCCALCSIZE, WM_CREATE, WM_SIZE, WM_MOVE,
                                                  WM_SHOWWINDOW, WM_WINDOWPOSCHANGING, WM_WINDOWPOSCHANGED}));
    EXPECT_EQ(parentLog.Take(), std::vector<UINT>{WM_PARENTNOTIFY});
    EXPECT_EQ(GetParent(child), parent);
    EXPECT_TRUE(IsChild(parent, child));
    EXPECT_TRUE(SetTimer(child, 1, 10, nullptr));
    PostMessageW(child, WM_APP, 0, 0);

    std::vector<std::pair<HWND, UINT>> order;
    const auto note = [&](HWND hwnd, UINT message, WPARAM, LPARAM, LRESULT&) {
        if (message == WM_DESTROY || message == WM_NCDESTROY) order.emplace_back(hwnd, message);
        return false;
    };
    parentLog.onMessage = note;
    childLog.onMessage = note;
    EXPECT_TRUE(DestroyWindow(parent));
    EXPECT_EQ(order, (std::vector<std::pair<HWND, UINT>>{
                         {parent, WM_DESTROY}, {child, WM_DESTROY}, {child, WM_NCDESTROY}, {parent, WM_NCDESTROY}}));
    // The child's timer and posted message went with it.
    MSG msg;
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_FALSE(IsWindow(child));
}

TEST_F(Windows, AStaleHandleFailsEveryCallAndNamesNoLaterWindow) {
    Recorder log;
    const HWND gone = MakeWindow(&log);
    ASSERT_TRUE(DestroyWindow(gone));
    const HWND later = MakeWindow(&log);
    EXPECT_NE(later, gone);
    RECT rect;
    DWORD pid = 0;
    const std::vector<std::pair<const char*, std::function<bool()>>> calls = {
        {"IsWindow", [&] { return IsWindow(gone) != FALSE; }},
        {"DestroyWindow", [&] { return DestroyWindow(gone) != FALSE; }},
        {"PostMessageW", [&] { return PostMessageW(gone, WM_APP, 0, 0) != FALSE; }},
        {"SendMessageW", [&] { return SendMessageW(gone, WM_APP, 0, 0) != 0; }},
        {"GetWindowLongPtrW", [&] { return GetWindowLongPtrW(gone, GWL_STYLE) != 0; }},
        {"SetWindowLongPtrW", [&] { return SetWindowLongPtrW(gone, GWLP_USERDATA, 1) != 0; }},
        {"GetWindowThreadProcessId", [&] { return GetWindowThreadProcessId(gone, &pid) != 0; }},
        {"ShowWindow", [&] { return ShowWindow(gone, SW_SHOW) != FALSE; }},
        {"GetWindowRect", [&] { return GetWindowRect(gone, &rect) != FALSE; }},
        {"SetTimer", [&] { return SetTimer(gone, 1, 10, nullptr) != 0; }},
    };
    for (const auto& [name, call] : calls) EXPECT_TRUE(FailsWith(ERROR_INVALID_WINDOW_HANDLE, call)) << name;
    DestroyWindow(later);
}

LRESULT CALLBACK Refusing(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) return FALSE;
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

TEST_F(Windows, ClassesAreFoundByNameWithoutCaseOrByAtom) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = Refusing;
    wc.lpszClassName = L"VlibTestRefusing";
    const ATOM atom = RegisterClassExW(&wc);
    ASSERT_NE(atom, 0);
    EXPECT_TRUE(FailsWith(ERROR_CLASS_ALREADY_EXISTS, [&] { return RegisterClassExW(&wc) != 0; }));
    WNDCLASSEXW found{};
    EXPECT_TRUE(GetClassInfoExW(nullptr, L"VLIBTESTREFUSING", &found));
    EXPECT_EQ(found.lpfnWndProc, Refusing);
    EXPECT_TRUE(FailsWith(ERROR_CANCELLED, [&] {
        return CreateWindowExW(0, MAKEINTATOM(atom), L"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    }));
    EXPECT_TRUE(UnregisterClassW(L"vlibtestrefusing", nullptr));
    EXPECT_TRUE(FailsWith(ERROR_CANNOT_FIND_WND_CLASS, [&] {
        return CreateWindowExW(0, L"VlibTestRefusing", L"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    }));
    EXPECT_TRUE(FailsWith(ERROR_CLASS_DOES_NOT_EXIST, [&] { return UnregisterClassW(L"VlibTestRefusing", nullptr); }));
    const auto with = [&](auto change) {
        WNDCLASSEXW bad = wc;
        change(bad);
        return bad;
    };
    for (const WNDCLASSEXW& bad :
         {with([](WNDCLASSEXW& c) { c.cbSize = 4; }), with([](WNDCLASSEXW& c) { c.lpfnWndProc = nullptr; }),
          with([](WNDCLASSEXW& c) { c.lpszClassName = L""; }), with([](WNDCLASSEXW& c) { c.cbWndExtra = -1; })}) {
        EXPECT_TRUE(FailsWith(ERROR_INVALID_PARAMETER, [&] { return RegisterClassExW(&bad) != 0; }));
    }
    // A class with windows stays; the platform's own classes stay always.
    Recorder log;
    const HWND window = MakeWindow(&log);
    EXPECT_TRUE(
        FailsWith(ERROR_CLASS_HAS_WINDOWS, [&] { return UnregisterClassW(vlibtest::RecordingClass(), nullptr); }));
    DestroyWindow(window);
    EXPECT_TRUE(FailsWith(ERROR_ACCESS_DENIED, [] { return UnregisterClassW(L"Message", nullptr); }));
    const HWND messageOnly =
        CreateWindowExW(0, L"message", L"m", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(messageOnly, nullptr);
    EXPECT_EQ(GetParent(messageOnly), nullptr);
    wchar_t name[8];
    EXPECT_EQ(GetClassNameW(messageOnly, name, 8), 7);
    EXPECT_EQ(std::wstring(name), L"Message");
    DestroyWindow(messageOnly);
    EXPECT_TRUE(FailsWith(ERROR_TLW_WITH_WSCHILD, [] { return MakeWindow(nullptr, WS_CHILD, nullptr); }));
}

TEST_F(Windows, WindowDataReadsAndChangesWithItsMessages) {
    Recorder log;
    const HWND window = MakeWindow(&log, WS_CAPTION);
    log.Take();
    EXPECT_EQ(GetWindowLongPtrW(window, GWL_STYLE), static_cast<LONG>(WS_CAPTION));
    EXPECT_EQ(GetWindowLongPtrW(window, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(vlibtest::RecordingProc));
    EXPECT_EQ(SetWindowLongPtrW(window, 8, 0x1122334455667788), 0);
    EXPECT_EQ(GetWindowLongPtrW(window, 8), 0x1122334455667788);
    EXPECT_EQ(GetWindowLongW(window, 8), 0x55667788);
    EXPECT_TRUE(FailsWith(ERROR_INVALID_INDEX, [&] { return GetWindowLongPtrW(window, 9) != 0; }));
    EXPECT_TRUE(FailsWith(ERROR_INVALID_INDEX, [&] { return SetWindowLongW(window, 13, 1) != 0; }));
    EXPECT_TRUE(FailsWith(ERROR_INVALID_INDEX, [&] { return GetWindowLongW(window, GWLP_WNDPROC) != 0; }));
    EXPECT_EQ(SetWindowLongPtrW(window, GWL_STYLE, WS_POPUP), static_cast<LONG>(WS_CAPTION));
    EXPECT_EQ(log.Take(), (std::vector<UINT>{WM_STYLECHANGING, WM_STYLECHANGED}));
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE)), WS_POPUP);
    // Subclassing: the new procedure passes on to the old one.
    static WNDPROC previous = nullptr;
    previous = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
        window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(+[](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
            return m == WM_APP ? 99 : CallWindowProcW(previous, h, m, w, l);
        })));
    EXPECT_EQ(SendMessageW(window, WM_APP, 0, 0), 99);
    EXPECT_TRUE(SetWindowTextW(window, L"Kursy WIG20"));
    wchar_t text[6];
    EXPECT_EQ(GetWindowTextW(window, text, 6), 5);
    EXPECT_EQ(std::wstring(text), L"Kursy");
    EXPECT_EQ(GetWindowTextLengthW(window), 11);
    DestroyWindow(window);
}

TEST_F(Windows, RectanglesOfChildrenAreRelativeToTheirParent) {
    Recorder log;
    const HWND parent = MakeWindow(&log);  // at (10, 20), 100 x 50
    const HWND child =
        CreateWindowExW(0, vlibtest::RecordingClass(), L"", WS_CHILD, 5, 6, 30, 40, parent, nullptr, nullptr, &log);
    RECT rect;
    EXPECT_TRUE(GetWindowRect(child, &rect));
    EXPECT_EQ(rect, (RECT{15, 26, 45, 66}));
    EXPECT_TRUE(GetClientRect(child, &rect));
    EXPECT_EQ(rect, (RECT{0, 0, 30, 40}));
    POINT point{1, 1};
    EXPECT_TRUE(ClientToScreen(child, &point));
    EXPECT_EQ(point.x, 16);
    EXPECT_TRUE(ScreenToClient(parent, &point));
    EXPECT_EQ(point.x, 6);
    log.Take();
    EXPECT_TRUE(MoveWindow(parent, 0, 0, 200, 100, TRUE));
    EXPECT_EQ(log.Take(),
              (std::vector<UINT>{WM_WINDOWPOSCHANGING, WM_NCCALCSIZE, WM_WINDOWPOSCHANGED, WM_MOVE, WM_SIZE}));
    EXPECT_TRUE(GetWindowRect(child, &rect));
    EXPECT_EQ(rect, (RECT{5, 6, 35, 46}));
    EXPECT_FALSE(IsWindowVisible(child));
    ShowWindow(child, SW_SHOW);
    EXPECT_FALSE(IsWindowVisible(child));  // its parent is hidden
    EXPECT_FALSE(ShowWindow(parent, SW_SHOWNORMAL));
    EXPECT_TRUE(IsWindowVisible(child));
    DestroyWindow(parent);
}

TEST_F(Windows, OnlyTheOwnerThreadDestroysAndWindowsGoWithTheirThread) {
    Recorder log;
    HWND window = nullptr;
    {
        vlibtest::PumpThread owner;
        window = owner.Run([&] { return MakeWindow(&log); });
        EXPECT_TRUE(FailsWith(ERROR_ACCESS_DENIED, [&] { return DestroyWindow(window); }));
        DWORD pid = 0;
        EXPECT_EQ(GetWindowThreadProcessId(window, &pid), owner.Id());
        EXPECT_TRUE(owner.Run([&] { return SetTimer(window, 3, 10, nullptr) != 0; }));
        log.Take();
    }
    // No messages at the thread's end: the thread is gone.
    EXPECT_FALSE(IsWindow(window));
    EXPECT_TRUE(log.Take().empty());
}

// A backend that notes what it is told.
struct NotingBackend : vplatform::user::DisplayDriver {
    std::vector<std::string> events;
    void Created(vplatform::user::TopLevelWindow& window) override {
        events.push_back("created " + std::to_string(window.rect.right));
        window.rect = RECT{1, 2, 301, 202};  // places a window made with CW_USEDEFAULT
    }
    void Destroyed(HWND) override { events.push_back("destroyed"); }
    void Shown(HWND, bool visible) override { events.push_back(visible ? "shown" : "hidden"); }
    void Moved(HWND, const RECT& rect) override { events.push_back("moved " + std::to_string(rect.left)); }
    void TextChanged(HWND, std::wstring_view text) override { events.push_back("text " + std::to_string(text.size())); }
    BOOL PostForeign(HWND, UINT message, WPARAM, LPARAM) override {
        events.push_back("post " + std::to_string(message));
        return TRUE;
    }
};

TEST_F(Windows, TheBackendHearsOfTopLevelWindowsAndBringsForeignOnes) {
    NotingBackend backend;
    vplatform::user::SetDisplayDriver(&backend);
    Recorder log;
    const HWND top = CreateWindowExW(0, vlibtest::RecordingClass(), L"", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                     CW_USEDEFAULT, 0, CW_USEDEFAULT, 0, nullptr, nullptr, nullptr, &log);
    const HWND child = MakeWindow(&log, WS_CHILD | WS_VISIBLE, top);
    const HWND messageOnly = MakeWindow(&log, 0, HWND_MESSAGE);
    RECT rect;
    GetWindowRect(top, &rect);
    EXPECT_EQ(rect.right, 301);
    SetWindowTextW(top, L"abc");
    MoveWindow(top, 7, 7, 10, 10, TRUE);
    EXPECT_TRUE(vplatform::user::NoteWindowRect(top, RECT{50, 60, 70, 80}));
    GetWindowRect(top, &rect);
    EXPECT_EQ(rect.left, 50);
    DestroyWindow(messageOnly);
    DestroyWindow(top);
    EXPECT_FALSE(IsWindow(child));
    EXPECT_EQ(backend.events,
              (std::vector<std::string>{"created 0", "shown", "text 3", "moved 7", "hidden", "destroyed"}));

    backend.events.clear();
    const HWND foreign = vplatform::user::AddForeignWindow({.processId = 4242,
                                                            .threadId = 4243,
                                                            .style = WS_VISIBLE,
                                                            .rect = RECT{0, 0, 5, 5},
                                                            .title = L"obcy",
                                                            .className = L"XTerm"});
    ASSERT_NE(foreign, nullptr);
    DWORD pid = 0;
    EXPECT_EQ(GetWindowThreadProcessId(foreign, &pid), 4243u);
    EXPECT_EQ(pid, 4242u);
    wchar_t text[8];
    EXPECT_EQ(GetWindowTextW(foreign, text, 8), 4);
    EXPECT_EQ(GetClassNameW(foreign, text, 8), 5);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongPtrW(foreign, GWL_STYLE)), WS_VISIBLE);
    EXPECT_TRUE(PostMessageW(foreign, WM_APP, 0, 0));
    EXPECT_TRUE(FailsWith(ERROR_ACCESS_DENIED, [&] { return DestroyWindow(foreign); }));
    EXPECT_TRUE(FailsWith(ERROR_ACCESS_DENIED, [&] { return SetWindowLongPtrW(foreign, GWL_STYLE, 0) != 0; }));
    EXPECT_TRUE(vplatform::user::RemoveForeignWindow(foreign));
    EXPECT_FALSE(IsWindow(foreign));
    EXPECT_EQ(backend.events, std::vector<std::string>{"post " + std::to_string(WM_APP)});
    vplatform::user::SetDisplayDriver(nullptr);
}

}  // namespace
