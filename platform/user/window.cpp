// Windows: creation and destruction with their messages, the default window
// procedure, window data, text, visibility and rectangles.
#include <algorithm>
#include <cstring>
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

LPARAM Pack(LONG low, LONG high) {
    return MAKELPARAM(static_cast<WORD>(low), static_cast<WORD>(high));
}

void TellShown(const Window& window, bool visible) {
    DisplayDriver* driver = CurrentDisplayDriver();
    if (driver != nullptr && IsTopLevel(window)) driver->Shown(window.handle, visible);
}

void TellMoved(const Window& window) {
    DisplayDriver* driver = CurrentDisplayDriver();
    if (driver != nullptr && IsTopLevel(window)) driver->Moved(window.handle, ScreenRect(window));
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

bool IsOwnThread(const Window& window) {
    return !window.foreign && window.queue.get() == &CurrentQueue();
}

void SetText(Window& window, LPCWSTR text) {
    {
        const std::lock_guard lock(window.mutex);
        window.text = text != nullptr && !IS_INTRESOURCE(text) ? text : L"";
    }
    DisplayDriver* driver = CurrentDisplayDriver();
    if (driver != nullptr && IsTopLevel(window)) {
        std::wstring copy;
        {
            const std::lock_guard lock(window.mutex);
            copy = window.text;
        }
        driver->TextChanged(window.handle, copy);
    }
}

int CopyText(const std::wstring& text, LPWSTR buffer, int size) {
    if (buffer == nullptr || size <= 0) return 0;
    const auto count = static_cast<int>(std::min<std::size_t>(text.size(), static_cast<std::size_t>(size - 1)));
    std::copy_n(text.begin(), count, buffer);
    buffer[count] = L'\0';
    return count;
}

// Window data other than the extra bytes; false for another index.
bool ReadField(const Window& window, int index, LONG_PTR& value) {
    switch (index) {
        case GWLP_WNDPROC:
            value = reinterpret_cast<LONG_PTR>(window.proc);
            return true;
        case GWLP_HINSTANCE:
            value = reinterpret_cast<LONG_PTR>(window.instance);
            return true;
        case GWLP_ID:
            value = window.id;
            return true;
        case GWL_STYLE:
            value = static_cast<LONG>(window.style);
            return true;
        case GWL_EXSTYLE:
            value = static_cast<LONG>(window.exStyle);
            return true;
        case GWLP_USERDATA:
            value = window.userData;
            return true;
        default:
            return false;
    }
}

bool ExtraFits(const Window& window, int index, std::size_t size) {
    return index >= 0 && static_cast<std::size_t>(index) + size <= window.extra.size();
}

LONG_PTR GetLong(HWND hwnd, int index, std::size_t size) {
    const auto window = LookupWindow(hwnd);
    if (!window) return 0;
    if (index == GWLP_HWNDPARENT) {
        const std::lock_guard tree(TreeMutex());
        return reinterpret_cast<LONG_PTR>(window->child ? window->parent : window->owner);
    }
    const std::lock_guard lock(window->mutex);
    LONG_PTR value = 0;
    if (ReadField(*window, index, value)) return value;
    if (!ExtraFits(*window, index, size)) {
        SetLastError(ERROR_INVALID_INDEX);
        return 0;
    }
    if (size == sizeof(LONG_PTR)) {
        std::memcpy(&value, window->extra.data() + index, sizeof value);
        return value;
    }
    LONG narrow = 0;
    std::memcpy(&narrow, window->extra.data() + index, sizeof narrow);
    return narrow;
}

LONG_PTR SetStyle(const std::shared_ptr<Window>& window, int index, LONG_PTR value) {
    STYLESTRUCT styles{};
    {
        const std::lock_guard lock(window->mutex);
        styles.styleOld = index == GWL_STYLE ? window->style : window->exStyle;
    }
    styles.styleNew = static_cast<DWORD>(value);
    const HWND hwnd = window->handle;
    SendMessageW(hwnd, WM_STYLECHANGING, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&styles));
    bool visibilityChanged = false;
    {
        const std::lock_guard lock(window->mutex);
        if (index == GWL_STYLE) {
            visibilityChanged = ((window->style ^ styles.styleNew) & WS_VISIBLE) != 0;
            window->style = styles.styleNew;
        } else {
            window->exStyle = styles.styleNew;
        }
    }
    SendMessageW(hwnd, WM_STYLECHANGED, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&styles));
    if (visibilityChanged) TellShown(*window, (styles.styleNew & WS_VISIBLE) != 0);
    return static_cast<LONG>(styles.styleOld);
}

LONG_PTR SetLong(HWND hwnd, int index, LONG_PTR value, std::size_t size) {
    const auto window = LookupWindow(hwnd);
    if (!window) return 0;
    if (window->foreign) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    if (index == GWL_STYLE || index == GWL_EXSTYLE) return SetStyle(window, index, value);
    if (index == GWLP_HWNDPARENT) {
        const auto owner = reinterpret_cast<HWND>(value);
        if (owner != nullptr && !LookupWindow(owner)) return 0;
        if (window->child) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        const HWND top = owner != nullptr ? TopLevelAncestor(owner) : nullptr;
        const std::lock_guard tree(TreeMutex());
        return reinterpret_cast<LONG_PTR>(std::exchange(window->owner, top));
    }
    const std::lock_guard lock(window->mutex);
    LONG_PTR previous = 0;
    switch (index) {
        case GWLP_WNDPROC:
            return reinterpret_cast<LONG_PTR>(std::exchange(window->proc, reinterpret_cast<WNDPROC>(value)));
        case GWLP_HINSTANCE:
            return reinterpret_cast<LONG_PTR>(std::exchange(window->instance, reinterpret_cast<HINSTANCE>(value)));
        case GWLP_ID:
            return std::exchange(window->id, value);
        case GWLP_USERDATA:
            return std::exchange(window->userData, value);
        default:
            break;
    }
    if (!ExtraFits(*window, index, size)) {
        SetLastError(ERROR_INVALID_INDEX);
        return 0;
    }
    unsigned char* at = window->extra.data() + index;
    if (size == sizeof(LONG_PTR)) {
        std::memcpy(&previous, at, sizeof previous);
        std::memcpy(at, &value, sizeof value);
        return previous;
    }
    LONG narrow = 0;
    std::memcpy(&narrow, at, sizeof narrow);
    const auto next = static_cast<LONG>(value);
    std::memcpy(at, &next, sizeof next);
    return narrow;
}

}  // namespace

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

LONG_PTR GetWindowLongPtrW(HWND hWnd, int nIndex) {
    return GetLong(hWnd, nIndex, sizeof(LONG_PTR));
}

LONG_PTR SetWindowLongPtrW(HWND hWnd, int nIndex, LONG_PTR dwNewLong) {
    return SetLong(hWnd, nIndex, dwNewLong, sizeof(LONG_PTR));
}

LONG GetWindowLongW(HWND hWnd, int nIndex) {
    if (nIndex == GWLP_WNDPROC || nIndex == GWLP_HINSTANCE || nIndex == GWLP_HWNDPARENT) {
        if (!LookupWindow(hWnd)) return 0;
        SetLastError(ERROR_INVALID_INDEX);
        return 0;
    }
    return static_cast<LONG>(GetLong(hWnd, nIndex, sizeof(LONG)));
}

LONG SetWindowLongW(HWND hWnd, int nIndex, LONG dwNewLong) {
    if (nIndex == GWLP_WNDPROC || nIndex == GWLP_HINSTANCE || nIndex == GWLP_HWNDPARENT) {
        if (!LookupWindow(hWnd)) return 0;
        SetLastError(ERROR_INVALID_INDEX);
        return 0;
    }
    return static_cast<LONG>(SetLong(hWnd, nIndex, dwNewLong, sizeof(LONG)));
}

int GetClassNameW(HWND hWnd, LPWSTR lpClassName, int nMaxCount) {
    const auto window = LookupWindow(hWnd);
    if (!window) return 0;
    if (lpClassName == nullptr || nMaxCount <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::lock_guard lock(window->mutex);
    return CopyText(window->className, lpClassName, nMaxCount);
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

BOOL SetWindowTextW(HWND hWnd, LPCWSTR lpString) {
    const auto window = LookupWindow(hWnd);
    if (!window) return FALSE;
    if (window->foreign) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return SendMessageW(hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lpString)) != 0 ? TRUE : FALSE;
}

int GetWindowTextW(HWND hWnd, LPWSTR lpString, int nMaxCount) {
    const auto window = LookupWindow(hWnd);
    if (!window || lpString == nullptr || nMaxCount <= 0) return 0;
    if (IsOwnThread(*window)) {
        return static_cast<int>(
            SendMessageW(hWnd, WM_GETTEXT, static_cast<WPARAM>(nMaxCount), reinterpret_cast<LPARAM>(lpString)));
    }
    const std::lock_guard lock(window->mutex);
    return CopyText(window->text, lpString, nMaxCount);
}

int GetWindowTextLengthW(HWND hWnd) {
    const auto window = LookupWindow(hWnd);
    if (!window) return 0;
    if (IsOwnThread(*window)) return static_cast<int>(SendMessageW(hWnd, WM_GETTEXTLENGTH, 0, 0));
    const std::lock_guard lock(window->mutex);
    return static_cast<int>(window->text.size());
}

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
