// Windows: creation and destruction with their messages, the default window
// procedure, and the window tree (parents, owners, children, the top-level
// list).
#include <algorithm>
#include <mutex>
#include <utility>

#include "platform/gdi/internal/WindowDc.h"
#include "platform/kernel/Threads.h"
#include "platform/user/internal/DisplayDriver.h"
#include "platform/user/internal/Queue.h"
#include "platform/user/internal/WindowClasses.h"
#include "platform/user/internal/WindowObject.h"

namespace vplatform::user {

PlatformMutex& TreeMutex() {
    static auto* mutex = new PlatformMutex;  // never destroyed: windows may outlive static destruction
    return *mutex;
}

std::vector<HWND>& TopLevelWindows() {
    static auto* windows = new std::vector<HWND>;
    return *windows;
}

std::shared_ptr<Window> LookupWindow(HWND hwnd) {
    auto window = UserHandles().Lookup<Window>(hwnd);
    // Another program's window is asked for again: it may have changed or gone.
    if (window && window->foreign && !CurrentDisplayDriver()->RefreshForeign(hwnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    return window;
}

bool IsTopLevel(const Window& window) {
    return !window.foreign && window.parent == nullptr;
}

LRESULT CallWindow(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    WNDPROC proc = nullptr;
    {
        const auto window = UserHandles().Find<Window>(hwnd);
        if (!window) return 0;
        const std::lock_guard lock(window->mutex);
        proc = window->proc;
    }
    return proc != nullptr ? proc(hwnd, message, wParam, lParam) : 0;
}

// The top-level window above `hwnd` (itself when it is one).
HWND TopLevelAncestor(HWND hwnd) {
    HWND at = hwnd;
    for (;;) {
        const auto window = UserHandles().Find<Window>(at);
        if (!window || !window->child) return at;
        at = window->parent;
    }
}

bool IsOwnThread(const Window& window) {
    return !window.foreign && window.queue.get() == &CurrentQueue();
}

namespace {

LPARAM Pack(LONG low, LONG high) {
    return MAKELPARAM(static_cast<WORD>(low), static_cast<WORD>(high));
}

// Removes a destroyed window's handle and its links; tells the driver.
void Release(HWND hwnd) {
    const auto window = UserHandles().Remove<Window>(hwnd);
    if (!window) return;
    bool topLevel = false;
    {
        const std::lock_guard tree(TreeMutex());
        topLevel = !window->foreign && window->parent == nullptr;
        if (window->parent != nullptr && window->parent != HWND_MESSAGE) {
            if (const auto parent = UserHandles().Find<Window>(window->parent)) std::erase(parent->children, hwnd);
        } else if (window->parent == nullptr) {
            std::erase(TopLevelWindows(), hwnd);
        }
        window->children.clear();
    }
    if (window->queue) window->queue->RemoveWindow(hwnd);
    if (window->wndClass) window->wndClass->windows.fetch_sub(1);
    // The DCs its users did not release stop working and counting.
    vplatform::gdi::ReleaseWindowDcs(hwnd);
    DisplayDriver* driver = CurrentDisplayDriver();
    if (driver != nullptr && topLevel) driver->Destroyed(hwnd);
}

std::vector<HWND> Children(const Window& window) {
    const std::lock_guard tree(TreeMutex());
    return window.children;
}

// WM_DESTROY to the window, then to its children, each marked destroying
// first (a DestroyWindow of it from a procedure then does nothing more).
void SendDestroy(HWND hwnd) {
    const auto window = UserHandles().Find<Window>(hwnd);
    if (!window) return;
    {
        const std::lock_guard lock(window->mutex);
        window->destroying = true;
    }
    SendMessageW(hwnd, WM_DESTROY, 0, 0);
    for (HWND child : Children(*window)) SendDestroy(child);
}

// WM_NCDESTROY to the children, then to the window; the handles go.
void FinishDestroy(HWND hwnd) {
    const auto window = UserHandles().Find<Window>(hwnd);
    if (!window) return;
    for (HWND child : Children(*window)) FinishDestroy(child);
    SendMessageW(hwnd, WM_NCDESTROY, 0, 0);
    Release(hwnd);
}

}  // namespace

void DestroyWithoutMessages(HWND hwnd) {
    const auto window = UserHandles().Find<Window>(hwnd);
    if (!window) return;
    for (HWND child : Children(*window)) DestroyWithoutMessages(child);
    Release(hwnd);
}

}  // namespace vplatform::user

using namespace vplatform;
using namespace vplatform::user;

extern "C" {

HWND CreateWindowExW(DWORD dwExStyle, LPCWSTR lpClassName, LPCWSTR lpWindowName, DWORD dwStyle, int X, int Y,
                     int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance, LPVOID lpParam) {
    MessageQueue& queue = CurrentQueue();
    const auto wndClass = FindClass(lpClassName, hInstance);
    if (!wndClass) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }
    HWND parent = nullptr;
    HWND owner = nullptr;
    if (hWndParent == HWND_MESSAGE) {
        parent = HWND_MESSAGE;
    } else if ((dwStyle & WS_CHILD) != 0) {
        if (hWndParent == nullptr) {
            SetLastError(ERROR_TLW_WITH_WSCHILD);
            return nullptr;
        }
        const auto parentWindow = LookupWindow(hWndParent);
        if (!parentWindow) return nullptr;
        if (parentWindow->foreign) {
            SetLastError(ERROR_ACCESS_DENIED);
            return nullptr;
        }
        parent = hWndParent;
    } else if (hWndParent != nullptr) {
        if (!LookupWindow(hWndParent)) return nullptr;
        owner = TopLevelAncestor(hWndParent);
    }
    const bool child = (dwStyle & WS_CHILD) != 0 && parent != HWND_MESSAGE;
    if (X == CW_USEDEFAULT) X = Y = 0;
    if (nWidth == CW_USEDEFAULT) nWidth = nHeight = 0;
    nWidth = std::max(nWidth, 0);
    nHeight = std::max(nHeight, 0);

    auto window = std::make_shared<Window>();
    window->threadId = queue.ThreadId();
    window->processId = GetCurrentProcessId();
    window->queue = CurrentQueueShared();
    window->wndClass = wndClass;
    window->proc = wndClass->proc;
    window->style = dwStyle & ~WS_VISIBLE;
    window->exStyle = dwExStyle;
    window->instance = hInstance;
    window->id = child ? reinterpret_cast<LONG_PTR>(hMenu) : 0;
    window->className = wndClass->name;
    window->rect = RECT{X, Y, X + nWidth, Y + nHeight};
    window->client = window->rect;
    window->extra.assign(static_cast<std::size_t>(wndClass->windowExtra), 0);
    window->parent = parent;
    window->child = child;
    window->owner = owner;
    const HWND hwnd = UserHandles().Insert(window);
    if (hwnd == nullptr) return nullptr;
    window->handle = hwnd;
    wndClass->windows.fetch_add(1);
    {
        const std::lock_guard tree(TreeMutex());
        if (parent == nullptr) {
            TopLevelWindows().insert(TopLevelWindows().begin(), hwnd);
        } else if (parent != HWND_MESSAGE) {
            if (const auto parentWindow = UserHandles().Find<Window>(parent)) {
                parentWindow->children.insert(parentWindow->children.begin(), hwnd);
            }
        }
    }
    queue.AddWindow(hwnd);
    if (DisplayDriver* driver = CurrentDisplayDriver(); driver != nullptr && parent == nullptr) {
        TopLevelWindow info{hwnd,
                            window->threadId,
                            window->style,
                            dwExStyle,
                            owner,
                            window->rect,
                            lpWindowName != nullptr && !IS_INTRESOURCE(lpWindowName) ? lpWindowName : L"",
                            wndClass->name};
        driver->Created(info);
        const std::lock_guard lock(window->mutex);
        window->rect = info.rect;
        window->client = info.rect;
    }

    RECT rect;
    {
        const std::lock_guard lock(window->mutex);
        rect = window->rect;
    }
    CREATESTRUCTW create{lpParam,
                         hInstance,
                         hMenu,
                         parent == HWND_MESSAGE ? HWND_MESSAGE : (parent != nullptr ? parent : owner),
                         rect.bottom - rect.top,
                         rect.right - rect.left,
                         rect.top,
                         rect.left,
                         static_cast<LONG>(dwStyle),
                         lpWindowName,
                         lpClassName,
                         dwExStyle};
    if (SendMessageW(hwnd, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&create)) == FALSE) {
        FinishDestroy(hwnd);
        SetLastError(ERROR_CANCELLED);
        return nullptr;
    }
    RECT client = rect;
    SendMessageW(hwnd, WM_NCCALCSIZE, FALSE, reinterpret_cast<LPARAM>(&client));
    {
        const std::lock_guard lock(window->mutex);
        window->client = client;
    }
    if (SendMessageW(hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1) {
        DestroyWindow(hwnd);
        SetLastError(ERROR_CANCELLED);
        return nullptr;
    }
    SendMessageW(hwnd, WM_SIZE, SIZE_RESTORED, Pack(client.right - client.left, client.bottom - client.top));
    SendMessageW(hwnd, WM_MOVE, 0, Pack(client.left, client.top));
    if ((dwStyle & WS_VISIBLE) != 0) ShowWindow(hwnd, SW_SHOW);
    if (child && (dwExStyle & WS_EX_NOPARENTNOTIFY) == 0) {
        LONG_PTR id = 0;
        {
            const std::lock_guard lock(window->mutex);
            id = window->id;
        }
        SendMessageW(parent, WM_PARENTNOTIFY, MAKEWPARAM(WM_CREATE, static_cast<WORD>(id)),
                     reinterpret_cast<LPARAM>(hwnd));
    }
    // Its procedure may have destroyed it on the way.
    if (!UserHandles().Find<Window>(hwnd)) {
        SetLastError(ERROR_CANCELLED);
        return nullptr;
    }
    return hwnd;
}

BOOL DestroyWindow(HWND hWnd) {
    const auto window = LookupWindow(hWnd);
    if (!window) return FALSE;
    if (!IsOwnThread(*window)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    bool visible = false;
    bool notifyParent = false;
    LONG_PTR id = 0;
    {
        const std::lock_guard lock(window->mutex);
        if (window->destroying) return TRUE;
        window->destroying = true;
        visible = (window->style & WS_VISIBLE) != 0;
        window->style &= ~WS_VISIBLE;
        notifyParent = (window->exStyle & WS_EX_NOPARENTNOTIFY) == 0;
        id = window->id;
    }
    const HWND parent = window->child ? window->parent : nullptr;
    std::vector<HWND> owned;
    {
        const std::lock_guard tree(TreeMutex());
        for (HWND top : TopLevelWindows()) {
            const auto other = UserHandles().Find<Window>(top);
            if (other && other->owner == hWnd) owned.push_back(top);
        }
    }
    if (parent != nullptr && notifyParent) {
        SendMessageW(parent, WM_PARENTNOTIFY, MAKEWPARAM(WM_DESTROY, static_cast<WORD>(id)),
                     reinterpret_cast<LPARAM>(hWnd));
    }
    if (visible) TellShown(*window, false);
    for (HWND top : owned) {
        const auto other = UserHandles().Find<Window>(top);
        if (!other) continue;
        if (IsOwnThread(*other)) {
            DestroyWindow(top);
        } else {
            const std::lock_guard tree(TreeMutex());
            other->owner = nullptr;
        }
    }
    // WM_DESTROY to the window and then its children, WM_NCDESTROY to the
    // children and then the window.
    SendDestroy(hWnd);
    FinishDestroy(hWnd);
    return TRUE;
}

BOOL IsWindow(HWND hWnd) {
    return LookupWindow(hWnd) ? TRUE : FALSE;
}

LRESULT DefWindowProcW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    switch (Msg) {
        case WM_NCCREATE: {
            const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
            if (create != nullptr && create->lpszName != nullptr) {
                if (const auto window = LookupWindow(hWnd)) {
                    const std::lock_guard lock(window->mutex);
                    window->text = IS_INTRESOURCE(create->lpszName) ? L"" : create->lpszName;
                }
            }
            return TRUE;
        }
        case WM_SETTEXT: {
            const auto window = LookupWindow(hWnd);
            if (!window) return FALSE;
            SetText(*window, reinterpret_cast<LPCWSTR>(lParam));
            return TRUE;
        }
        case WM_GETTEXT: {
            const auto window = LookupWindow(hWnd);
            if (!window) return 0;
            const std::lock_guard lock(window->mutex);
            return CopyText(window->text, reinterpret_cast<LPWSTR>(lParam), static_cast<int>(wParam));
        }
        case WM_GETTEXTLENGTH: {
            const auto window = LookupWindow(hWnd);
            if (!window) return 0;
            const std::lock_guard lock(window->mutex);
            return static_cast<LRESULT>(window->text.size());
        }
        case WM_CLOSE:
            DestroyWindow(hWnd);
            return 0;
        case WM_WINDOWPOSCHANGED: {
            const auto* pos = reinterpret_cast<const WINDOWPOS*>(lParam);
            const auto window = LookupWindow(hWnd);
            if (pos == nullptr || !window) return 0;
            RECT client;
            {
                const std::lock_guard lock(window->mutex);
                client = window->client;
            }
            if ((pos->flags & SWP_NOMOVE) == 0) SendMessageW(hWnd, WM_MOVE, 0, Pack(client.left, client.top));
            if ((pos->flags & SWP_NOSIZE) == 0) {
                SendMessageW(hWnd, WM_SIZE, SIZE_RESTORED,
                             Pack(client.right - client.left, client.bottom - client.top));
            }
            return 0;
        }
        default:
            return 0;
    }
}

LRESULT CallWindowProcW(WNDPROC lpPrevWndFunc, HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    return lpPrevWndFunc != nullptr ? lpPrevWndFunc(hWnd, Msg, wParam, lParam) : 0;
}

DWORD GetWindowThreadProcessId(HWND hWnd, LPDWORD lpdwProcessId) {
    const auto window = LookupWindow(hWnd);
    if (!window) return 0;
    if (lpdwProcessId != nullptr) *lpdwProcessId = window->processId;
    return window->threadId;
}

HWND GetParent(HWND hWnd) {
    const auto window = LookupWindow(hWnd);
    if (!window) return nullptr;
    if (window->child) return window->parent;
    const std::lock_guard tree(TreeMutex());
    return window->owner;
}

BOOL IsChild(HWND hWndParent, HWND hWnd) {
    if (hWndParent == nullptr || hWndParent == hWnd) return FALSE;
    for (HWND at = hWnd;;) {
        const auto window = UserHandles().Find<Window>(at);
        if (!window || !window->child) return FALSE;
        if (window->parent == hWndParent) return TRUE;
        at = window->parent;
    }
}

BOOL EnumWindows(WNDENUMPROC lpEnumFunc, LPARAM lParam) {
    if (lpEnumFunc == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::vector<HWND> windows;
    if (!CurrentDisplayDriver()->EnumTopLevel(windows)) windows.clear();
    {
        // The process's windows the display does not list (hidden ones, or
        // all without a display) follow, newest first.
        const std::lock_guard tree(TreeMutex());
        for (HWND own : TopLevelWindows()) {
            if (std::find(windows.begin(), windows.end(), own) == windows.end()) windows.push_back(own);
        }
    }
    for (HWND hwnd : windows) {
        if (!UserHandles().Find<Window>(hwnd)) continue;  // gone meanwhile
        if (!lpEnumFunc(hwnd, lParam)) return FALSE;
    }
    return TRUE;
}

HWND GetWindow(HWND hWnd, UINT uCmd) {
    const auto window = LookupWindow(hWnd);
    if (!window) return nullptr;
    const std::lock_guard tree(TreeMutex());
    switch (uCmd) {
        case GW_OWNER:
            return window->child ? nullptr : window->owner;
        case GW_CHILD:
            return window->children.empty() ? nullptr : window->children.front();
        default:
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
    }
}
}
