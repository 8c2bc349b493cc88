// Windows' places: visibility, window and client rectangles, coordinates,
// and the moves the display driver reports.
#include <algorithm>
#include <mutex>

#include "platform/user/internal/DisplayDriver.h"
#include "platform/user/internal/WindowObject.h"

namespace vplatform::user {
namespace {

// A window's parent of its coordinates: the parent of a child, else none.
HWND CoordinateParent(const Window& window) {
    return window.child ? window.parent : nullptr;
}

// The screen position of the client area's origin of `hwnd` (null: 0, 0).
POINT ClientOrigin(HWND hwnd) {
    POINT origin{0, 0};
    for (HWND at = hwnd; at != nullptr;) {
        const auto window = UserHandles().Find<Window>(at);
        if (!window) break;
        {
            const std::lock_guard lock(window->mutex);
            origin.x += window->client.left;
            origin.y += window->client.top;
        }
        at = CoordinateParent(*window);
    }
    return origin;
}

RECT Offset(RECT rect, POINT by) {
    return RECT{rect.left + by.x, rect.top + by.y, rect.right + by.x, rect.bottom + by.y};
}

RECT ScreenRect(const Window& window) {
    RECT rect;
    {
        const std::lock_guard lock(window.mutex);
        rect = window.rect;
    }
    return Offset(rect, ClientOrigin(CoordinateParent(window)));
}

void TellMoved(const Window& window) {
    DisplayDriver* driver = CurrentDisplayDriver();
    if (driver != nullptr && IsTopLevel(window)) driver->Moved(window.handle, ScreenRect(window));
}

}  // namespace

void TellShown(const Window& window, bool visible) {
    DisplayDriver* driver = CurrentDisplayDriver();
    if (driver != nullptr && IsTopLevel(window)) driver->Shown(window.handle, visible);
}

bool NoteWindowRect(HWND hwnd, const RECT& screenRect) {
    const auto window = LookupWindow(hwnd);
    if (!window) return false;
    const POINT origin = ClientOrigin(CoordinateParent(*window));
    const RECT rect = Offset(screenRect, POINT{-origin.x, -origin.y});
    WINDOWPOS pos{hwnd, nullptr, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, SWP_NOZORDER};
    {
        const std::lock_guard lock(window->mutex);
        const RECT old = window->rect;
        // The client area keeps its distance from the window's edges.
        window->client =
            RECT{rect.left + (window->client.left - old.left), rect.top + (window->client.top - old.top),
                 rect.right + (window->client.right - old.right), rect.bottom + (window->client.bottom - old.bottom)};
        window->rect = rect;
        if (rect.left == old.left && rect.top == old.top) pos.flags |= SWP_NOMOVE;
        if (rect.right - rect.left == old.right - old.left && rect.bottom - rect.top == old.bottom - old.top)
            pos.flags |= SWP_NOSIZE;
    }
    if (!window->foreign) SendMessageW(hwnd, WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&pos));
    return true;
}

}  // namespace vplatform::user

using namespace vplatform;
using namespace vplatform::user;

extern "C" {

BOOL ShowWindow(HWND hWnd, int nCmdShow) {
    const auto window = LookupWindow(hWnd);
    if (!window) return FALSE;
    if (window->foreign) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    bool wasVisible = false;
    {
        const std::lock_guard lock(window->mutex);
        wasVisible = (window->style & WS_VISIBLE) != 0;
    }
    const bool show = nCmdShow != SW_HIDE;
    if (show == wasVisible) return wasVisible ? TRUE : FALSE;
    SendMessageW(hWnd, WM_SHOWWINDOW, show ? TRUE : FALSE, 0);
    SetWindowPos(hWnd, nullptr, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | (show ? SWP_SHOWWINDOW : SWP_HIDEWINDOW));
    return wasVisible ? TRUE : FALSE;
}

BOOL IsWindowVisible(HWND hWnd) {
    const auto window = LookupWindow(hWnd);
    if (!window) return FALSE;
    for (auto at = window; at;) {
        HWND next = nullptr;
        {
            const std::lock_guard lock(at->mutex);
            if ((at->style & WS_VISIBLE) == 0) return FALSE;
        }
        next = CoordinateParent(*at);
        if (next == nullptr) return TRUE;
        at = UserHandles().Find<Window>(next);
    }
    return FALSE;
}

BOOL SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy, UINT uFlags) {
    const auto window = LookupWindow(hWnd);
    if (!window) return FALSE;
    if (window->foreign) return CurrentDisplayDriver()->PlaceForeign(hWnd, hWndInsertAfter, X, Y, cx, cy, uFlags);
    RECT old;
    bool wasVisible = false;
    {
        const std::lock_guard lock(window->mutex);
        old = window->rect;
        wasVisible = (window->style & WS_VISIBLE) != 0;
    }
    WINDOWPOS pos{hWnd, hWndInsertAfter, X, Y, cx, cy, uFlags};
    if ((uFlags & SWP_NOMOVE) != 0) {
        pos.x = old.left;
        pos.y = old.top;
    }
    if ((uFlags & SWP_NOSIZE) != 0) {
        pos.cx = old.right - old.left;
        pos.cy = old.bottom - old.top;
    }
    if ((uFlags & SWP_NOSENDCHANGING) == 0) SendMessageW(hWnd, WM_WINDOWPOSCHANGING, 0, reinterpret_cast<LPARAM>(&pos));
    pos.cx = std::max(pos.cx, 0);
    pos.cy = std::max(pos.cy, 0);
    const RECT rect{pos.x, pos.y, pos.x + pos.cx, pos.y + pos.cy};
    const bool moved = rect.left != old.left || rect.top != old.top;
    const bool sized = rect.right - rect.left != old.right - old.left || rect.bottom - rect.top != old.bottom - old.top;
    RECT client = rect;
    bool visible = wasVisible;
    if ((pos.flags & SWP_SHOWWINDOW) != 0) visible = true;
    if ((pos.flags & SWP_HIDEWINDOW) != 0) visible = false;
    if (moved || sized || (pos.flags & SWP_FRAMECHANGED) != 0) {
        SendMessageW(hWnd, WM_NCCALCSIZE, FALSE, reinterpret_cast<LPARAM>(&client));
    } else {
        const std::lock_guard lock(window->mutex);
        client = window->client;
    }
    {
        const std::lock_guard lock(window->mutex);
        window->rect = rect;
        window->client = client;
        window->style = visible ? window->style | WS_VISIBLE : window->style & ~WS_VISIBLE;
    }
    pos.flags = (pos.flags & ~(SWP_NOMOVE | SWP_NOSIZE)) | (moved ? 0 : SWP_NOMOVE) | (sized ? 0 : SWP_NOSIZE);
    SendMessageW(hWnd, WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&pos));
    if (moved || sized) TellMoved(*window);
    if (visible != wasVisible) TellShown(*window, visible);
    return TRUE;
}

BOOL MoveWindow(HWND hWnd, int X, int Y, int nWidth, int nHeight, BOOL) {
    return SetWindowPos(hWnd, nullptr, X, Y, nWidth, nHeight, SWP_NOZORDER | SWP_NOACTIVATE);
}

BOOL GetWindowRect(HWND hWnd, LPRECT lpRect) {
    const auto window = LookupWindow(hWnd);
    if (!window) return FALSE;
    if (lpRect == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *lpRect = ScreenRect(*window);
    return TRUE;
}

BOOL GetClientRect(HWND hWnd, LPRECT lpRect) {
    const auto window = LookupWindow(hWnd);
    if (!window) return FALSE;
    if (lpRect == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::lock_guard lock(window->mutex);
    *lpRect = RECT{0, 0, window->client.right - window->client.left, window->client.bottom - window->client.top};
    return TRUE;
}

BOOL ClientToScreen(HWND hWnd, LPPOINT lpPoint) {
    if (!LookupWindow(hWnd)) return FALSE;
    if (lpPoint == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const POINT origin = ClientOrigin(hWnd);
    lpPoint->x += origin.x;
    lpPoint->y += origin.y;
    return TRUE;
}

BOOL ScreenToClient(HWND hWnd, LPPOINT lpPoint) {
    if (!LookupWindow(hWnd)) return FALSE;
    if (lpPoint == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const POINT origin = ClientOrigin(hWnd);
    lpPoint->x -= origin.x;
    lpPoint->y -= origin.y;
    return TRUE;
}
}
