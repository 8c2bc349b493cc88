// Other programs' top-level X windows as HWNDs of the USER table: found in
// the display's stacking order, read again at each lookup, closed, moved and
// restacked on request.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XRes.h>

#include <algorithm>

#include "platform/WinError.h"
#include "platform/internal/Syscalls.h"
#include "platform/nls/CodePage.h"
#include "platform/user/Messages.h"
#include "platform/x11/internal/Windows.h"

namespace vplatform::x11 {
namespace {

constexpr long kIconicState = 3;  // WM_STATE's state of a minimised window

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

}  // namespace

bool ForeignWindows::EnumTopLevel(std::vector<HWND>& windows) {
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

bool ForeignWindows::Refresh(HWND hwnd) {
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

BOOL ForeignWindows::Post(HWND hwnd, UINT message, WPARAM, LPARAM) {
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

BOOL ForeignWindows::Place(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
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

void ForeignWindows::Event(Connection&, const XEvent& event) {
    if (event.type != DestroyNotify) return;
    const auto it = m_foreignByX.find(event.xdestroywindow.window);
    if (it != m_foreignByX.end()) Forget(it->second);
}

void ForeignWindows::Lost() {
    for (const auto& [hwnd, x] : m_xOfForeign) user::RemoveForeignWindow(hwnd);
    m_foreignByX.clear();
    m_xOfForeign.clear();
    m_pids.clear();
    m_internal.clear();
}

// The top-level client windows, the top of the Z order first.
std::vector<XWindow> ForeignWindows::Stacking(Connection& connection) {
    std::vector<XWindow> order;
    const XWindow root = connection.Root();
    // The window manager's list, while one that keeps it runs (a list
    // left by one that has ended is stale).
    const auto list = ManagerRuns(connection)
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
bool ForeignWindows::ManagerRuns(Connection& connection) {
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
std::vector<XWindow> ForeignWindows::Children(Connection& connection, XWindow window) {
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
XWindow ForeignWindows::ClientOf(Connection& connection, XWindow frame) {
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
HWND ForeignWindows::Foreign(Connection& connection, XWindow x, bool resolveOwner) {
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

void ForeignWindows::Forget(HWND hwnd) {
    const auto it = m_xOfForeign.find(hwnd);
    if (it == m_xOfForeign.end()) return;
    m_foreignByX.erase(it->second);
    m_pids.erase(it->second);
    m_xOfForeign.erase(it);
    user::RemoveForeignWindow(hwnd);
}

// What the server knows of `x`; false when it has gone.
bool ForeignWindows::Describe(Connection& connection, XWindow x, user::ForeignWindow& info, bool resolveOwner) {
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
        minimised = minimised || std::find(states->longs.begin(), states->longs.end(), hidden) != states->longs.end();
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

DWORD ForeignWindows::ProcessOf(Connection& connection, XWindow x) {
    if (const auto it = m_pids.find(x); it != m_pids.end()) return it->second;
    DWORD pid = ServerPid(connection, x);
    if (pid == 0) pid = ClaimedPid(connection, x);
    m_pids[x] = pid;
    return pid;
}

// The process of the client that made `x`, as the server knows it.
DWORD ForeignWindows::ServerPid(Connection& connection, XWindow x) {
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
DWORD ForeignWindows::ClaimedPid(Connection& connection, XWindow x) {
    const auto machine = ReadProperty(connection, x, XA_WM_CLIENT_MACHINE, XA_STRING);
    const std::string host = HostName();
    if (!machine || host.empty() || std::string(machine->bytes.begin(), machine->bytes.end()) != host) return 0;
    const auto pid = ReadProperty(connection, x, connection.Intern("_NET_WM_PID"), XA_CARDINAL);
    if (!pid || pid->longs.empty() || pid->longs.front() <= 0 || pid->longs.front() > 0x7fffffffL) return 0;
    return static_cast<DWORD>(pid->longs.front());
}

}  // namespace vplatform::x11
