// The X11 side of the window model: X windows for the process's top-level
// windows, and other programs' X windows as entries of the USER table.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XRes.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/internal/Syscalls.h"
#include "platform/internal/Utf8.h"
#include "platform/kernel/WinError.h"
#include "platform/nls/CodePage.h"
#include "platform/user/Messages.h"
#include "platform/user/internal/WindowBackend.h"
#include "platform/x11/internal/Connection.h"
#include "platform/x11/internal/Desktop.h"
#include "platform/x11/internal/Windows.h"

namespace vplatform::x11 {
namespace {

using XWindow = ::Window;

constexpr long kIconicState = 3;  // WM_STATE's state of a minimised window

// The callbacks about the process's own windows must not change the last
// error of the call that made them (SetWindowLongPtrW keeps it on success).
class KeepLastError {
public:
    KeepLastError() : m_saved(GetLastError()) {}
    ~KeepLastError() { SetLastError(m_saved); }
    KeepLastError(const KeepLastError&) = delete;
    KeepLastError& operator=(const KeepLastError&) = delete;

private:
    DWORD m_saved;
};

std::wstring WideOfUtf8(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(std::max(size, 0)), L'\0');
    if (size > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), size);
    return out;
}

std::wstring WideOfLatin1(const std::string& text) {
    return std::wstring(text.begin(), text.end());  // ISO 8859-1 is the first 256 code points
}

// A property's raw value: its format (8, 16, 32) and its items; 32-bit items
// are longs, as Xlib gives them.  None when missing, of another type (with a
// type asked) or unreadable.
struct Property {
    Atom type = None;
    int format = 0;
    std::vector<unsigned char> bytes;  // 8-bit items
    std::vector<long> longs;           // 32-bit items
};

std::optional<Property> ReadProperty(Connection& connection, XWindow window, Atom name, Atom type) {
    ErrorTrap trap(connection);
    Property property;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    const int status = XGetWindowProperty(connection.Dpy(), window, name, 0, 1 << 16, False, type, &property.type,
                                          &property.format, &count, &after, &data);
    std::optional<Property> result;
    if (status == Success && trap.Check() == 0 && property.type != None &&
        (type == AnyPropertyType || property.type == type)) {
        if (property.format == 32) {
            const auto* longs = reinterpret_cast<const long*>(data);
            property.longs.assign(longs, longs + count);
        } else if (property.format == 8) {
            property.bytes.assign(data, data + count);
        }
        result = std::move(property);
    }
    if (data != nullptr) XFree(data);
    return result;
}

std::string HostName() {
    char name[256] = {};
    if (Sys().gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

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

// _NET_FRAME_EXTENTS: left, right, top, bottom; zeros without a frame.
std::array<long, 4> FrameExtents(Connection& connection, XWindow x) {
    std::array<long, 4> frame{};
    const auto extents = ReadProperty(connection, x, connection.Intern("_NET_FRAME_EXTENTS"), XA_CARDINAL);
    if (extents && extents->longs.size() >= 4) {
        for (std::size_t i = 0; i < 4; ++i) frame[i] = std::clamp(extents->longs[i], 0L, 1L << 16);
    }
    return frame;
}

// Two coordinates in one message parameter (X coordinates are 16-bit).
WPARAM PackPair(LONG a, LONG b) {
    return (static_cast<WPARAM>(static_cast<std::uint32_t>(a)) << 32) | static_cast<std::uint32_t>(b);
}

std::pair<LONG, LONG> UnpackPair(std::uint64_t packed) {
    return {static_cast<LONG>(static_cast<std::int32_t>(packed >> 32)),
            static_cast<LONG>(static_cast<std::int32_t>(packed & 0xFFFFFFFFu))};
}

// The process's own top-level windows.  They live on a connection of their
// own, served by a thread: the requests of a window manager reach the client
// that created the window (a close request, WM_DELETE_WINDOW, is sent to it
// alone), and this thread reads them as they come, while the shared
// connection is read only when a caller locks it.  A close request becomes
// WM_CLOSE posted to the window.  Moves and sizes made by the display
// (ConfigureNotify) are posted to the window's thread (BackendMessage),
// whose DispatchMessageW hands them back to Deliver: the window learns them
// on its own thread, with no lock held.
//
// Threads.  Every X request on the connection runs on its thread; callers
// wait for their request to be done and synced, so another client that asks
// the server afterwards sees it.  The maps are guarded by m_mutex, taken
// alone (never with the shared connection's lock held inside it).
class OwnWindows final : public EventThread::Handler {
public:
    void Create(user::TopLevelWindow& window, POINT origin) {
        Run(
            [&](Connection& connection) {
                Display* dpy = connection.Dpy();
                const RECT root = Offset(window.rect, origin);
                const XWindow x = XCreateWindow(dpy, connection.Root(), root.left, root.top,
                                                Extent(root.left, root.right), Extent(root.top, root.bottom), 0,
                                                CopyFromParent, InputOutput, CopyFromParent, 0, nullptr);
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

    void Destroy(HWND hwnd) {
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

    void Show(HWND hwnd, bool visible) {
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
    void Move(HWND hwnd, const RECT& root) {
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
            XMoveResizeWindow(connection.Dpy(), x, root.left, root.top,
                              Extent(root.left + frame[0] + frame[1], root.right),
                              Extent(root.top + frame[2] + frame[3], root.bottom));
        });
    }

    void Retitle(HWND hwnd, std::wstring_view text) {
        if (XOf(hwnd) == None) return;
        Run([&](Connection& connection) {
            if (const XWindow x = XOf(hwnd); x != None) SetTitle(connection, x, text);
        });
    }

    // Ends the thread and closes its connection, which takes the X windows
    // with it; the windows keep working without them.  At exit, so that the
    // thread is not left reading a connection whose server may go first.
    void Stop() {
        std::unique_ptr<EventThread> thread;
        {
            const std::lock_guard lock(m_threadMutex);
            thread = std::move(m_thread);
        }
        thread.reset();
        Lost();
    }

    // The own window of an X window, or null.
    HWND HwndOf(XWindow x) const {
        const std::lock_guard lock(m_mutex);
        const auto it = m_byX.find(x);
        return it == m_byX.end() ? nullptr : it->second.hwnd;
    }

    // --- EventThread::Handler (on the thread) ----------------------------------------

    void Started(Connection&) override {}

    void Event(Connection& connection, XEvent& event) override {
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

    void Lost() override {
        const std::lock_guard lock(m_mutex);
        m_byX.clear();
        m_xOf.clear();
    }

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

    XWindow XOf(HWND hwnd) const {
        const std::lock_guard lock(m_mutex);
        const auto it = m_xOf.find(hwnd);
        return it == m_xOf.end() ? None : it->second;
    }

    // A move or size of the X window.  Those that predate the last move
    // asked for, and those that only answer it, are not news; the others
    // (a window manager's, another client's) go to the window.
    void Configured(Connection& connection, const XConfigureEvent& configure) {
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
        if (!XTranslateCoordinates(connection.Dpy(), configure.window, connection.Root(), 0, 0, &rootX, &rootY,
                                   &child) ||
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
        PostMessageW(hwnd, user::BackendMessage(), PackPair(rect.left, rect.top), PackPair(rect.right, rect.bottom));
    }

    // Runs `task` on the thread with the connection and waits for it and for
    // the server to have done its requests.  The thread is started for a
    // window's creation; nothing runs without it or when the display has
    // gone.
    void Run(const std::function<void(Connection&)>& task, bool start = false) {
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

    std::mutex m_threadMutex;
    std::unique_ptr<EventThread> m_thread;
    mutable std::mutex m_mutex;
    std::map<XWindow, Own> m_byX;
    std::map<HWND, XWindow> m_xOf;
};

class DisplayWindows final : public user::WindowBackend, public Watcher {
public:
    DisplayWindows() {
        WatchLayout();
        SharedDisplay::AddWatcher(this);
    }

    // --- The process's own windows ---------------------------------------------------

    void Created(user::TopLevelWindow& window) override {
        const KeepLastError keep;
        const auto origin = CurrentOrigin();
        if (!origin) return;
        static std::once_flag once;
        std::call_once(once,
                       [] { std::atexit([] { static_cast<DisplayWindows&>(DisplayWindowBackend()).m_own.Stop(); }); });
        m_own.Create(window, *origin);
    }

    void Destroyed(HWND hwnd) override {
        const KeepLastError keep;
        m_own.Destroy(hwnd);
    }

    void Shown(HWND hwnd, bool visible) override {
        const KeepLastError keep;
        m_own.Show(hwnd, visible);
    }

    void Moved(HWND hwnd, const RECT& rect) override {
        const KeepLastError keep;
        if (const auto origin = CurrentOrigin()) {
            m_own.Move(hwnd, RECT{rect.left + origin->x, rect.top + origin->y, rect.right + origin->x,
                                  rect.bottom + origin->y});
        }
    }

    void TextChanged(HWND hwnd, std::wstring_view text) override {
        const KeepLastError keep;
        m_own.Retitle(hwnd, text);
    }

    // A move or size the display made, on the window's thread.
    void Deliver(const MSG& message) override {
        const KeepLastError keep;
        const auto origin = CurrentOrigin();
        if (!origin) return;
        const auto [left, top] = UnpackPair(message.wParam);
        const auto [right, bottom] = UnpackPair(static_cast<std::uint64_t>(message.lParam));
        user::NoteWindowRect(message.hwnd,
                             RECT{left - origin->x, top - origin->y, right - origin->x, bottom - origin->y});
    }

    // --- Windows of other programs ----------------------------------------------------

    bool EnumTopLevel(std::vector<HWND>& windows) override {
        auto display = SharedDisplay::Acquire();
        if (!display) return false;
        Connection& connection = *display;
        for (const XWindow x : Stacking(connection)) {
            if (const HWND own = m_own.HwndOf(x)) {
                windows.push_back(own);
            } else if (const HWND hwnd = Foreign(connection, x)) {
                windows.push_back(hwnd);
            }
        }
        return true;
    }

    bool RefreshForeign(HWND hwnd) override {
        const KeepLastError keep;
        auto display = SharedDisplay::Acquire();
        if (!display) return false;  // every entry went with the connection
        const auto it = m_xOfForeign.find(hwnd);
        if (it == m_xOfForeign.end()) return true;  // not one of the display's
        user::ForeignWindow info;
        if (!Describe(*display, it->second, info, true)) {
            Forget(hwnd);
            return false;
        }
        return user::UpdateForeignWindow(hwnd, info);
    }

    BOOL PostForeign(HWND hwnd, UINT message, WPARAM, LPARAM) override {
        if (message != WM_CLOSE) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        auto display = SharedDisplay::Acquire();
        if (!display) return FALSE;
        Connection& connection = *display;
        const auto it = m_xOfForeign.find(hwnd);
        if (it == m_xOfForeign.end()) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        const XWindow x = it->second;
        // WM_CLOSE is the close request of the window manager's protocol:
        // only for a window that takes it.
        const Atom deleteWindow = connection.Intern("WM_DELETE_WINDOW");
        bool takes = false;
        if (const auto protocols = ReadProperty(connection, x, connection.Intern("WM_PROTOCOLS"), XA_ATOM)) {
            takes = std::find(protocols->longs.begin(), protocols->longs.end(), static_cast<long>(deleteWindow)) !=
                    protocols->longs.end();
        }
        if (!takes) {
            SetLastError(ERROR_NOT_SUPPORTED);
            return FALSE;
        }
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = x;
        event.xclient.message_type = connection.Intern("WM_PROTOCOLS");
        event.xclient.format = 32;
        event.xclient.data.l[0] = static_cast<long>(deleteWindow);
        event.xclient.data.l[1] = CurrentTime;
        ErrorTrap trap(connection);
        XSendEvent(connection.Dpy(), x, False, NoEventMask, &event);
        if (trap.Sync() != 0) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        return TRUE;
    }

    BOOL PlaceForeign(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) override {
        auto display = SharedDisplay::Acquire();
        if (!display) return FALSE;
        Connection& connection = *display;
        Display* dpy = connection.Dpy();
        const auto it = m_xOfForeign.find(hwnd);
        if (it == m_xOfForeign.end()) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        const XWindow window = it->second;
        const POINT origin = Origin(connection);
        const auto frame = FrameExtents(connection, window);
        XWindowChanges changes{};
        unsigned mask = 0;
        if ((flags & SWP_NOMOVE) == 0) {
            // Under a window manager (north-west gravity) the frame's corner
            // goes where the window's would have gone: the rectangle's corner.
            changes.x = x + origin.x;
            changes.y = y + origin.y;
            mask |= CWX | CWY;
        }
        if ((flags & SWP_NOSIZE) == 0) {
            changes.width = std::max(1, cx - static_cast<int>(frame[0] + frame[1]));
            changes.height = std::max(1, cy - static_cast<int>(frame[2] + frame[3]));
            mask |= CWWidth | CWHeight;
        }
        if ((flags & SWP_NOZORDER) == 0 &&
            (insertAfter == HWND_TOP || insertAfter == HWND_TOPMOST || insertAfter == HWND_BOTTOM)) {
            changes.stack_mode = insertAfter == HWND_BOTTOM ? Below : Above;
            mask |= CWStackMode;
        }
        ErrorTrap trap(connection);
        if (mask != 0) XReconfigureWMWindow(dpy, window, DefaultScreen(dpy), mask, &changes);
        if ((flags & SWP_SHOWWINDOW) != 0) XMapWindow(dpy, window);
        if ((flags & SWP_HIDEWINDOW) != 0) XWithdrawWindow(dpy, window, DefaultScreen(dpy));
        if (trap.Sync() != 0) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        return TRUE;
    }

    // --- Watcher ---------------------------------------------------------------------

    void Connected(Connection&) override {}

    void Event(Connection&, const XEvent& event) override {
        if (event.type != DestroyNotify) return;
        const auto it = m_foreignByX.find(event.xdestroywindow.window);
        if (it != m_foreignByX.end()) Forget(it->second);
    }

    void Lost() override {
        for (const auto& [hwnd, x] : m_xOfForeign) user::RemoveForeignWindow(hwnd);
        m_foreignByX.clear();
        m_xOfForeign.clear();
        m_pids.clear();
        m_internal.clear();
    }

private:
    // The virtual screen's origin in root coordinates, taken with the
    // shared connection's lock, which is free again on return; none
    // without a display.
    static std::optional<POINT> CurrentOrigin() {
        auto display = SharedDisplay::Acquire();
        if (!display) return std::nullopt;
        return Origin(*display);
    }

    static POINT Origin(Connection& connection) {
        const auto layout = LayoutLocked(connection);
        return layout ? layout->origin : POINT{0, 0};
    }

    // The top-level client windows, the top of the Z order first.
    std::vector<XWindow> Stacking(Connection& connection) {
        std::vector<XWindow> order;
        const XWindow root = connection.Root();
        // The window manager's list, while one that keeps it runs (a list
        // left by one that has ended is stale).
        const auto list =
            ManagerRuns(connection)
                ? ReadProperty(connection, root, connection.Intern("_NET_CLIENT_LIST_STACKING"), XA_WINDOW)
                : std::nullopt;
        if (list) {
            for (auto it = list->longs.rbegin(); it != list->longs.rend(); ++it) {
                order.push_back(static_cast<XWindow>(*it));
            }
            return order;
        }
        // No window manager's list: the root's children, bottom first.
        const std::vector<XWindow> tree = Children(connection, root);
        for (auto it = tree.rbegin(); it != tree.rend(); ++it) {
            if (m_own.HwndOf(*it) != nullptr) {
                order.push_back(*it);
                continue;
            }
            ErrorTrap check(connection);
            XWindowAttributes attributes;
            if (!XGetWindowAttributes(connection.Dpy(), *it, &attributes) || check.Check() != 0) continue;
            // Menus, tooltips and input-only helpers are not windows of a program's own.
            if (attributes.c_class == InputOnly || attributes.override_redirect) continue;
            order.push_back(ClientOf(connection, *it));
        }
        return order;
    }

    // True when _NET_SUPPORTING_WM_CHECK names a window that exists.
    static bool ManagerRuns(Connection& connection) {
        const auto check =
            ReadProperty(connection, connection.Root(), connection.Intern("_NET_SUPPORTING_WM_CHECK"), XA_WINDOW);
        if (!check || check->longs.empty()) return false;
        ErrorTrap trap(connection);
        XWindowAttributes attributes;
        return XGetWindowAttributes(connection.Dpy(), static_cast<XWindow>(check->longs.front()), &attributes) != 0 &&
               trap.Check() == 0;
    }

    // The children of `window`, bottom of the stacking order first; none
    // when it has gone.
    static std::vector<XWindow> Children(Connection& connection, XWindow window) {
        std::vector<XWindow> result;
        ErrorTrap trap(connection);
        XWindow root = None;
        XWindow parent = None;
        XWindow* children = nullptr;
        unsigned count = 0;
        const Status status = XQueryTree(connection.Dpy(), window, &root, &parent, &children, &count);
        if (status != 0 && trap.Check() == 0 && children != nullptr) {
            result.reserve(count);
            for (unsigned i = 0; i < count; ++i) result.push_back(children[i]);
        }
        if (children != nullptr) XFree(children);
        return result;
    }

    // The client window inside a window manager's frame: the first with
    // WM_STATE within two levels; the window itself without one.
    static XWindow ClientOf(Connection& connection, XWindow frame) {
        const Atom state = connection.Intern("WM_STATE");
        if (ReadProperty(connection, frame, state, AnyPropertyType)) return frame;
        std::vector<XWindow> level{frame};
        for (int depth = 0; depth < 2 && !level.empty(); ++depth) {
            std::vector<XWindow> next;
            for (const XWindow at : level) {
                for (const XWindow child : Children(connection, at)) {
                    if (ReadProperty(connection, child, state, AnyPropertyType)) return child;
                    next.push_back(child);
                }
            }
            level = std::move(next);
        }
        return frame;
    }

    // The HWND of another program's window, made at first sight; null when
    // the window has gone or the table is full.
    HWND Foreign(Connection& connection, XWindow x, bool resolveOwner = true) {
        if (const auto it = m_foreignByX.find(x); it != m_foreignByX.end()) return it->second;
        if (m_internal.contains(x)) return nullptr;
        user::ForeignWindow info;
        if (!Describe(connection, x, info, resolveOwner)) return nullptr;
        if (info.processId == static_cast<DWORD>(Sys().getpid())) {
            // The platform's own helper windows (the clipboard's) are no HWNDs.
            m_internal.insert(x);
            return nullptr;
        }
        const HWND hwnd = user::AddForeignWindow(info);
        if (hwnd == nullptr) return nullptr;
        m_foreignByX[x] = hwnd;
        m_xOfForeign[hwnd] = x;
        // Its end is announced (DestroyNotify); the property changes are those
        // the monitor layout may watch on the same window.
        ErrorTrap trap(connection);
        XSelectInput(connection.Dpy(), x, PropertyChangeMask | StructureNotifyMask);
        return hwnd;
    }

    void Forget(HWND hwnd) {
        const auto it = m_xOfForeign.find(hwnd);
        if (it == m_xOfForeign.end()) return;
        m_foreignByX.erase(it->second);
        m_pids.erase(it->second);
        m_xOfForeign.erase(it);
        user::RemoveForeignWindow(hwnd);
    }

    // What the server knows of `x`; false when it has gone.
    bool Describe(Connection& connection, XWindow x, user::ForeignWindow& info, bool resolveOwner) {
        Display* dpy = connection.Dpy();
        ErrorTrap trap(connection);
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(dpy, x, &attributes) || trap.Check() != 0) return false;
        int rootX = 0;
        int rootY = 0;
        XWindow child = None;
        if (!XTranslateCoordinates(dpy, x, connection.Root(), 0, 0, &rootX, &rootY, &child) || trap.Check() != 0) {
            return false;
        }
        const auto frame = FrameExtents(connection, x);
        const POINT origin = Origin(connection);
        const long long left = static_cast<long long>(rootX) - frame[0] - origin.x;
        const long long top = static_cast<long long>(rootY) - frame[2] - origin.y;
        info.rect = RECT{static_cast<LONG>(left), static_cast<LONG>(top),
                         static_cast<LONG>(left + frame[0] + attributes.width + frame[1]),
                         static_cast<LONG>(top + frame[2] + attributes.height + frame[3])};

        bool minimised = false;
        const Atom wmState = connection.Intern("WM_STATE");
        if (const auto state = ReadProperty(connection, x, wmState, wmState); state && !state->longs.empty()) {
            minimised = state->longs.front() == kIconicState;
        }
        if (const auto states = ReadProperty(connection, x, connection.Intern("_NET_WM_STATE"), XA_ATOM)) {
            const auto hidden = static_cast<long>(connection.Intern("_NET_WM_STATE_HIDDEN"));
            minimised =
                minimised || std::find(states->longs.begin(), states->longs.end(), hidden) != states->longs.end();
        }
        // A minimised window is visible, as on Windows.
        const bool visible = attributes.map_state != IsUnmapped || minimised;
        info.style = WS_OVERLAPPED | (visible ? WS_VISIBLE : 0) | (minimised ? WS_MINIMIZE : 0);
        info.exStyle = 0;

        if (const auto name =
                ReadProperty(connection, x, connection.Intern("_NET_WM_NAME"), connection.Intern("UTF8_STRING"))) {
            info.title = WideOfUtf8(std::string(name->bytes.begin(), name->bytes.end()));
        } else if (const auto legacy = ReadProperty(connection, x, XA_WM_NAME, AnyPropertyType)) {
            const std::string text(legacy->bytes.begin(), legacy->bytes.end());
            info.title = legacy->type == connection.Intern("UTF8_STRING") ? WideOfUtf8(text) : WideOfLatin1(text);
        }
        if (const auto classes = ReadProperty(connection, x, XA_WM_CLASS, XA_STRING)) {
            // res_name NUL res_class NUL: the class is the second.
            const std::string both(classes->bytes.begin(), classes->bytes.end());
            const auto split = both.find('\0');
            info.className = WideOfLatin1(split == std::string::npos ? both : both.substr(split + 1).c_str());
        }

        info.owner = nullptr;
        if (resolveOwner) {
            XWindow transient = None;
            if (XGetTransientForHint(dpy, x, &transient) && trap.Check() == 0 && transient != None && transient != x &&
                transient != connection.Root()) {
                if (const HWND own = m_own.HwndOf(transient)) {
                    info.owner = own;
                } else {
                    info.owner = Foreign(connection, transient, false);
                }
            }
        }

        info.processId = ProcessOf(connection, x);
        info.threadId = info.processId;
        return true;
    }

    DWORD ProcessOf(Connection& connection, XWindow x) {
        if (const auto it = m_pids.find(x); it != m_pids.end()) return it->second;
        DWORD pid = ServerPid(connection, x);
        if (pid == 0) pid = ClaimedPid(connection, x);
        m_pids[x] = pid;
        return pid;
    }

    // The process of the client that made `x`, as the server knows it.
    static DWORD ServerPid(Connection& connection, XWindow x) {
        Display* dpy = connection.Dpy();
        int eventBase = 0;
        int errorBase = 0;
        if (!XResQueryExtension(dpy, &eventBase, &errorBase)) return 0;
        ErrorTrap trap(connection);
        XResClientIdSpec query{x, XRES_CLIENT_ID_PID_MASK};
        long count = 0;
        XResClientIdValue* ids = nullptr;
        DWORD pid = 0;
        if (XResQueryClientIds(dpy, 1, &query, &count, &ids) == Success && trap.Check() == 0) {
            for (long i = 0; i < count; ++i) {
                if (ids[i].spec.mask != XRES_CLIENT_ID_PID_MASK) continue;
                const pid_t found = XResGetClientPid(&ids[i]);
                if (found > 0) pid = static_cast<DWORD>(found);
            }
        }
        if (ids != nullptr) XResClientIdsDestroy(count, ids);
        return pid;
    }

    // _NET_WM_PID, believed only when WM_CLIENT_MACHINE names this host.
    static DWORD ClaimedPid(Connection& connection, XWindow x) {
        const auto machine = ReadProperty(connection, x, XA_WM_CLIENT_MACHINE, XA_STRING);
        const std::string host = HostName();
        if (!machine || host.empty() || std::string(machine->bytes.begin(), machine->bytes.end()) != host) return 0;
        const auto pid = ReadProperty(connection, x, connection.Intern("_NET_WM_PID"), XA_CARDINAL);
        if (!pid || pid->longs.empty() || pid->longs.front() <= 0 || pid->longs.front() > 0x7fffffffL) return 0;
        return static_cast<DWORD>(pid->longs.front());
    }

    OwnWindows m_own;
    // Under the shared connection's lock.
    std::map<XWindow, HWND> m_foreignByX;
    std::map<HWND, XWindow> m_xOfForeign;
    std::map<XWindow, DWORD> m_pids;
    std::set<XWindow> m_internal;
};

}  // namespace

user::WindowBackend& DisplayWindowBackend() {
    static auto* backend = new DisplayWindows;  // never destroyed, as the shared connection
    return *backend;
}

}  // namespace vplatform::x11
