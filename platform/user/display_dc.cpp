// GetDC and ReleaseDC: the window layer checks the window, GDI makes and ends
// the DC (gdi/internal/WindowDc.h).
#include "platform/user/DisplayDc.h"

#include <algorithm>

#include "platform/WinError.h"
#include "platform/gdi/internal/WindowDc.h"
#include "platform/user/SystemMetrics.h"
#include "platform/user/Window.h"
#include "platform/user/internal/WindowObject.h"

namespace {

RECT ClientSurface(HWND window) {
    RECT surface{};
    if (!GetClientRect(window, &surface)) surface = RECT{};
    return surface;
}

RECT ScreenSurface(HWND) {
    // Without a display the screen has no size; that is no failure.
    const DWORD error = GetLastError();
    const RECT surface{0, 0, std::max(GetSystemMetrics(SM_CXSCREEN), 0), std::max(GetSystemMetrics(SM_CYSCREEN), 0)};
    SetLastError(error);
    return surface;
}

}  // namespace

extern "C" {

HDC GetDC(HWND hWnd) {
    if (hWnd == nullptr) return vplatform::gdi::MakeScreenDc(&ScreenSurface);
    if (!vplatform::user::LookupWindow(hWnd)) return nullptr;
    const HDC hdc = vplatform::gdi::MakeWindowDc(hWnd, &ClientSurface);
    // A window destroyed meanwhile has released its DCs already, perhaps
    // before this one was made: then it goes too, and the call fails.
    if (hdc != nullptr && !vplatform::user::LookupWindow(hWnd)) {
        vplatform::gdi::ReleaseWindowDcs(hWnd);
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    return hdc;
}

int ReleaseDC(HWND hWnd, HDC hDC) {
    return vplatform::gdi::ReleaseDisplayDc(hWnd, hDC);
}
}
