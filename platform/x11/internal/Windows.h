// The X11 side of the window model: the windows part of the X11 display
// driver (platform/user/internal/DisplayDriver.h), in display_driver.cpp,
// over the two halves here.
//
// Windows of this process (own_windows.cpp).  A top-level window gets an X
// window at its creation when a display exists (position, size, title,
// class, WM_PROTOCOLS with WM_DELETE_WINDOW, _NET_WM_PID, WM_CLIENT_MACHINE,
// WM_TRANSIENT_FOR for an owner with an X window); it is mapped and
// withdrawn as the window is shown and hidden, moved and sized with it, and
// destroyed with it.  These X windows are on a connection of their own whose
// thread reads their events as they come: a close request (a window
// manager's WM_DELETE_WINDOW) is posted to the window as WM_CLOSE, a move or
// size made by the display reaches it on its own thread through
// DispatchMessageW (WM_WINDOWPOSCHANGED, with WM_MOVE and WM_SIZE).  Without
// a display nothing of this happens and the windows work as before.
//
// Windows of other programs (foreign_windows.cpp).  An X window gets an HWND
// at first sight (from EnumTopLevel or as the owner of one), keyed by its X
// id; every lookup of it asks the server again: rectangle with the window
// manager's frame (_NET_FRAME_EXTENTS), visibility (mapped, or minimised:
// WM_STATE iconic or _NET_WM_STATE_HIDDEN, which counts as visible and adds
// WS_MINIMIZE), owner (WM_TRANSIENT_FOR), title (_NET_WM_NAME, else WM_NAME)
// and class (WM_CLASS).  Its process comes from the server (X-Resource
// client ids), else from _NET_WM_PID when WM_CLIENT_MACHINE names this host,
// else it is unknown (0); the thread id given is the process id (a program's
// first thread).  A window that has gone loses its handle at the next
// lookup, or when its DestroyNotify is read.  Every X error is taken per
// request; a lost server drops every entry of another program's window.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/WinTypes.h"
#include "platform/user/internal/DisplayDriver.h"
#include "platform/x11/internal/Connection.h"

namespace vplatform::x11 {

using XWindow = ::Window;

// --- X window properties (window_properties.cpp) --------------------------------------

// A property's raw value: its format (8, 16, 32) and its items; 32-bit items
// are longs, as Xlib gives them.  None when missing, of another type (with a
// type asked) or unreadable.
struct Property {
    Atom type = None;
    int format = 0;
    std::vector<unsigned char> bytes;  // 8-bit items
    std::vector<long> longs;           // 32-bit items
};

std::optional<Property> ReadProperty(Connection& connection, XWindow window, Atom name, Atom type);

// This machine's name (empty when unknown).
std::string HostName();

// _NET_FRAME_EXTENTS: left, right, top, bottom; zeros without a frame.
std::array<long, 4> FrameExtents(Connection& connection, XWindow x);

// The virtual screen's origin in root coordinates (0, 0 without a layout).
POINT Origin(Connection& connection);
// The same, taken with the shared connection's lock, which is free again on
// return; none without a display.
std::optional<POINT> CurrentOrigin();

// --- The process's own windows (own_windows.cpp) ------------------------------------

// Two coordinates in one message parameter (X coordinates are 16-bit).
WPARAM PackPair(LONG a, LONG b);
std::pair<LONG, LONG> UnpackPair(std::uint64_t packed);

// The process's own top-level windows.  They live on a connection of their
// own, served by a thread: the requests of a window manager reach the client
// that created the window (a close request, WM_DELETE_WINDOW, is sent to it
// alone), and this thread reads them as they come, while the shared
// connection is read only when a caller locks it.  A close request becomes
// WM_CLOSE posted to the window.  Moves and sizes made by the display
// (ConfigureNotify) are posted to the window's thread (DriverMessage),
// whose DispatchMessageW hands them back to the driver's Deliver: the window
// learns them on its own thread, with no lock held.
//
// Threads.  Every X request on the connection runs on its thread; callers
// wait for their request to be done and synced, so another client that asks
// the server afterwards sees it.  The maps are guarded by m_mutex, taken
// alone (never with the shared connection's lock held inside it).
class OwnWindows final : public EventThread::Handler {
public:
    // `origin`: the virtual screen's origin in root coordinates.
    void Create(user::TopLevelWindow& window, POINT origin);
    void Destroy(HWND hwnd);
    void Show(HWND hwnd, bool visible);
    // `root`: the window rectangle, frame included, in root coordinates.
    void Move(HWND hwnd, const RECT& root);
    void Retitle(HWND hwnd, std::wstring_view text);

    // Ends the thread and closes its connection, which takes the X windows
    // with it; the windows keep working without them.  At exit, so that the
    // thread is not left reading a connection whose server may go first.
    void Stop();

    // The own window of an X window, or null.
    HWND HwndOf(XWindow x) const;

    // --- EventThread::Handler (on the thread) ----------------------------------------

    void Started(Connection&) override {}
    void Event(Connection& connection, XEvent& event) override;
    void Lost() override;

private:
    struct Own {
        HWND hwnd;
        RECT rect;                 // the last rectangle asked for or learnt, root coordinates
        unsigned long serial = 0;  // of the last move asked for
    };

    static bool SameRect(const RECT& a, const RECT& b) {
        return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
    }

    static RECT Offset(const RECT& rect, POINT by) {
        return RECT{rect.left + by.x, rect.top + by.y, rect.right + by.x, rect.bottom + by.y};
    }

    XWindow XOf(HWND hwnd) const;
    void Configured(Connection& connection, const XConfigureEvent& configure);
    void Run(const std::function<void(Connection&)>& task, bool start = false);

    std::mutex m_threadMutex;
    std::unique_ptr<EventThread> m_thread;
    mutable std::mutex m_mutex;
    std::map<XWindow, Own> m_byX;
    std::map<HWND, XWindow> m_xOf;
};

// --- Windows of other programs (foreign_windows.cpp) --------------------------------

// The X windows of other programs as HWNDs.  Every member but the Watcher's
// takes the shared connection's lock; the maps are under it.
class ForeignWindows final : public Watcher {
public:
    explicit ForeignWindows(OwnWindows& own) : m_own(own) {}

    // The top-level windows of the display, the top of the Z order first
    // (the driver's EnumTopLevel).
    bool EnumTopLevel(std::vector<HWND>& windows);
    // Reads the window again (the driver's RefreshForeign).
    bool Refresh(HWND hwnd);
    // WM_CLOSE as the window manager's close request (the driver's PostForeign).
    BOOL Post(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    // The driver's PlaceForeign.
    BOOL Place(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags);

    // --- Watcher ---------------------------------------------------------------------

    void Connected(Connection&) override {}
    void Event(Connection& connection, const XEvent& event) override;
    void Lost() override;

private:
    std::vector<XWindow> Stacking(Connection& connection);
    static bool ManagerRuns(Connection& connection);
    static std::vector<XWindow> Children(Connection& connection, XWindow window);
    static XWindow ClientOf(Connection& connection, XWindow frame);
    HWND Foreign(Connection& connection, XWindow x, bool resolveOwner = true);
    void Forget(HWND hwnd);
    bool Describe(Connection& connection, XWindow x, user::ForeignWindow& info, bool resolveOwner);
    DWORD ProcessOf(Connection& connection, XWindow x);
    static DWORD ServerPid(Connection& connection, XWindow x);
    static DWORD ClaimedPid(Connection& connection, XWindow x);

    OwnWindows& m_own;
    // Under the shared connection's lock.
    std::map<XWindow, HWND> m_foreignByX;
    std::map<HWND, XWindow> m_xOfForeign;
    std::map<XWindow, DWORD> m_pids;
    std::set<XWindow> m_internal;
};

}  // namespace vplatform::x11
