// The process's own top-level windows on the display: X windows made,
// shown, moved, retitled and destroyed with them on a connection of their
// own, and the close requests and moves the display sends back.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <future>

#include "platform/internal/Syscalls.h"
#include "platform/nls/internal/Utf8.h"
#include "platform/user/Messages.h"
#include "platform/x11/internal/Windows.h"

namespace vplatform::x11 {
namespace {

unsigned Extent(LONG from, LONG to) {
    return static_cast<unsigned>(std::max<long long>(1, static_cast<long long>(to) - from));
}

void SetTitle(Connection& connection, XWindow x, std::wstring_view title) {
    const std::string utf8 = Utf8Of(title);
    const auto* data = reinterpret_cast<const unsigned char*>(utf8.data());
    const int size = static_cast<int>(utf8.size());
    XChangeProperty(connection.Dpy(), x, connection.Intern("_NET_WM_NAME"), connection.Intern("UTF8_STRING"), 8,
                    PropModeReplace, data, size);
    XChangeProperty(connection.Dpy(), x, XA_WM_NAME, connection.Intern("UTF8_STRING"), 8, PropModeReplace, data, size);
}

}  // namespace

// Two coordinates in one message parameter (X coordinates are 16-bit).
WPARAM PackPair(LONG a, LONG b) {
    return (static_cast<WPARAM>(static_cast<std::uint32_t>(a)) << 32) | static_cast<std::uint32_t>(b);
}

std::pair<LONG, LONG> UnpackPair(std::uint64_t packed) {
    return {static_cast<LONG>(static_cast<std::int32_t>(packed >> 32)),
            static_cast<LONG>(static_cast<std::int32_t>(packed & 0xFFFFFFFFu))};
}

void OwnWindows::Create(user::TopLevelWindow& window, POINT origin) {
    Run(
        [&](Connection& connection) {
            Display* dpy = connection.Dpy();
            const RECT root = Offset(window.rect, origin);
            const XWindow x = XCreateWindow(dpy, connection.Root(), root.left, root.top, Extent(root.left, root.right),
                                            Extent(root.top, root.bottom), 0, CopyFromParent, InputOutput,
                                            CopyFromParent, 0, nullptr);
            if (x == None) return;
            XSelectInput(dpy, x, StructureNotifyMask);
            SetTitle(connection, x, window.title);
            const std::string className = Utf8Of(window.className);
            XClassHint hint{const_cast<char*>(className.c_str()), const_cast<char*>(className.c_str())};
            XSetClassHint(dpy, x, &hint);
            Atom deleteWindow = connection.Intern("WM_DELETE_WINDOW");
            XSetWMProtocols(dpy, x, &deleteWindow, 1);
            const long pid = Sys().getpid();
            XChangeProperty(dpy, x, connection.Intern("_NET_WM_PID"), XA_CARDINAL, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(&pid), 1);
            const std::string host = HostName();
            XChangeProperty(dpy, x, XA_WM_CLIENT_MACHINE, XA_STRING, 8, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(host.data()), static_cast<int>(host.size()));
            // The position is the program's own: a window manager keeps it.
            XSizeHints size{};
            size.flags = USPosition | USSize;
            size.x = root.left;
            size.y = root.top;
            size.width = static_cast<int>(Extent(root.left, root.right));
            size.height = static_cast<int>(Extent(root.top, root.bottom));
            XSetWMNormalHints(dpy, x, &size);
            const std::lock_guard lock(m_mutex);
            if (const auto owner = m_xOf.find(window.owner); window.owner != nullptr && owner != m_xOf.end()) {
                XSetTransientForHint(dpy, x, owner->second);
            }
            m_byX[x] = Own{window.hwnd, root, 0};
            m_xOf[window.hwnd] = x;
        },
        true);
}

void OwnWindows::Destroy(HWND hwnd) {
    if (XOf(hwnd) == None) return;
    Run([&](Connection& connection) {
        const std::lock_guard lock(m_mutex);
        const auto it = m_xOf.find(hwnd);
        if (it == m_xOf.end()) return;
        XDestroyWindow(connection.Dpy(), it->second);
        m_byX.erase(it->second);
        m_xOf.erase(it);
    });
}

void OwnWindows::Show(HWND hwnd, bool visible) {
    if (XOf(hwnd) == None) return;
    Run([&](Connection& connection) {
        Display* dpy = connection.Dpy();
        const XWindow x = XOf(hwnd);
        if (x == None) return;
        if (visible) {
            XMapWindow(dpy, x);
        } else {
            // Withdrawn, so that a window manager forgets it too.
            XWithdrawWindow(dpy, x, DefaultScreen(dpy));
        }
    });
}

// `root`: the window rectangle, frame included, in root coordinates.
void OwnWindows::Move(HWND hwnd, const RECT& root) {
    if (XOf(hwnd) == None) return;
    Run([&](Connection& connection) {
        const XWindow x = XOf(hwnd);
        if (x == None) return;
        // Under a window manager (north-west gravity) the frame's corner
        // goes where the window's would have gone; the frame's size is
        // part of the rectangle.
        const auto frame = FrameExtents(connection, x);
        {
            const std::lock_guard lock(m_mutex);
            const auto it = m_byX.find(x);
            if (it == m_byX.end()) return;
            it->second.rect = root;
            it->second.serial = NextRequest(connection.Dpy());
        }
        XMoveResizeWindow(connection.Dpy(), x, root.left, root.top, Extent(root.left + frame[0] + frame[1], root.right),
                          Extent(root.top + frame[2] + frame[3], root.bottom));
    });
}

void OwnWindows::Retitle(HWND hwnd, std::wstring_view text) {
    if (XOf(hwnd) == None) return;
    Run([&](Connection& connection) {
        if (const XWindow x = XOf(hwnd); x != None) SetTitle(connection, x, text);
    });
}

// Ends the thread and closes its connection, which takes the X windows
// with it; the windows keep working without them.  At exit, so that the
// thread is not left reading a connection whose server may go first.
void OwnWindows::Stop() {
    std::unique_ptr<EventThread> thread;
    {
        const std::lock_guard lock(m_threadMutex);
        thread = std::move(m_thread);
    }
    thread.reset();
    Lost();
}

// The own window of an X window, or null.
HWND OwnWindows::HwndOf(XWindow x) const {
    const std::lock_guard lock(m_mutex);
    const auto it = m_byX.find(x);
    return it == m_byX.end() ? nullptr : it->second.hwnd;
}

void OwnWindows::Event(Connection& connection, XEvent& event) {
    if (event.type == ClientMessage && event.xclient.format == 32 &&
        event.xclient.message_type == connection.Intern("WM_PROTOCOLS") &&
        static_cast<Atom>(event.xclient.data.l[0]) == connection.Intern("WM_DELETE_WINDOW")) {
        if (const HWND hwnd = HwndOf(event.xclient.window)) {
            PostMessageW(hwnd, WM_CLOSE, 0, 0);
        }
    } else if (event.type == ConfigureNotify) {
        Configured(connection, event.xconfigure);
    }
}

void OwnWindows::Lost() {
    const std::lock_guard lock(m_mutex);
    m_byX.clear();
    m_xOf.clear();
}

XWindow OwnWindows::XOf(HWND hwnd) const {
    const std::lock_guard lock(m_mutex);
    const auto it = m_xOf.find(hwnd);
    return it == m_xOf.end() ? None : it->second;
}

// A move or size of the X window.  Those that predate the last move
// asked for, and those that only answer it, are not news; the others
// (a window manager's, another client's) go to the window.
void OwnWindows::Configured(Connection& connection, const XConfigureEvent& configure) {
    HWND hwnd = nullptr;
    {
        const std::lock_guard lock(m_mutex);
        const auto it = m_byX.find(configure.window);
        if (it == m_byX.end() || configure.serial < it->second.serial) return;
        hwnd = it->second.hwnd;
    }
    // The event's position is relative to the parent (a window manager's
    // frame, unless the manager sent it): ask where the window is now.
    int rootX = 0;
    int rootY = 0;
    XWindow child = None;
    ErrorTrap trap(connection);
    if (!XTranslateCoordinates(connection.Dpy(), configure.window, connection.Root(), 0, 0, &rootX, &rootY, &child) ||
        trap.Check() != 0) {
        return;
    }
    const auto frame = FrameExtents(connection, configure.window);
    const RECT rect{static_cast<LONG>(rootX - frame[0]), static_cast<LONG>(rootY - frame[2]),
                    static_cast<LONG>(rootX + configure.width + frame[1]),
                    static_cast<LONG>(rootY + configure.height + frame[3])};
    {
        const std::lock_guard lock(m_mutex);
        const auto it = m_byX.find(configure.window);
        if (it == m_byX.end() || SameRect(it->second.rect, rect)) return;
        it->second.rect = rect;
    }
    PostMessageW(hwnd, user::DriverMessage(), PackPair(rect.left, rect.top), PackPair(rect.right, rect.bottom));
}

// Runs `task` on the thread with the connection and waits for it and for
// the server to have done its requests.  The thread is started for a
// window's creation; nothing runs without it or when the display has
// gone.
void OwnWindows::Run(const std::function<void(Connection&)>& task, bool start) {
    std::promise<void> done;
    auto future = done.get_future();
    {
        const std::lock_guard lock(m_threadMutex);
        if (m_thread && m_thread->Ended()) m_thread.reset();
        if (!m_thread && start) m_thread = EventThread::Start("VWindows", *this);
        if (!m_thread) return;
        // A task posted to an ended thread still runs, finding the
        // connection lost.
        if (!m_thread->Post([&](Connection& connection) {
                if (!connection.Lost()) {
                    task(connection);
                    XSync(connection.Dpy(), False);
                }
                done.set_value();
            })) {
            return;
        }
    }
    future.wait();
}

}  // namespace vplatform::x11
