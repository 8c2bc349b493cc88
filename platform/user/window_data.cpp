// Windows' data: the long values (procedure, instance, identifier, styles,
// user data, extra bytes, the owner), the text and the class name.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <utility>

#include "platform/user/internal/DisplayDriver.h"
#include "platform/user/internal/WindowObject.h"

namespace vplatform::user {

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

namespace {

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
}  // namespace vplatform::user

using namespace vplatform;
using namespace vplatform::user;

extern "C" {

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
}
