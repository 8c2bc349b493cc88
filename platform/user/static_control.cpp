// The "STATIC" window class: text, font and the non-client edges.
#include <mutex>

#include "platform/user/StaticControl.h"
#include "platform/user/internal/WindowClasses.h"
#include "platform/user/internal/WindowObject.h"

namespace vplatform::user {
namespace {

// The control's font lives in its first extra bytes.
constexpr int kFontOffset = 0;

// How far the client area lies inside the window rectangle on each side.
int EdgeWidth(DWORD style, DWORD exStyle) {
    int edge = 0;
    if ((style & WS_BORDER) != 0) edge += 1;
    if ((exStyle & WS_EX_STATICEDGE) != 0) edge += 1;
    if ((exStyle & WS_EX_CLIENTEDGE) != 0) edge += 2;
    return edge;
}

LRESULT CALLBACK StaticProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_NCCREATE: {
            const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
            if (create != nullptr && (static_cast<DWORD>(create->style) & SS_SUNKEN) != 0) {
                SetWindowLongW(
                    hwnd, GWL_EXSTYLE,
                    static_cast<LONG>(static_cast<DWORD>(GetWindowLongW(hwnd, GWL_EXSTYLE)) | WS_EX_STATICEDGE));
            }
            return DefWindowProcW(hwnd, message, wParam, lParam);
        }
        case WM_NCCALCSIZE: {
            auto* rect = reinterpret_cast<RECT*>(lParam);
            const auto window = LookupWindow(hwnd);
            if (rect == nullptr || !window) return 0;
            DWORD style = 0;
            DWORD exStyle = 0;
            {
                const std::lock_guard lock(window->mutex);
                style = window->style;
                exStyle = window->exStyle;
            }
            const int edge = EdgeWidth(style, exStyle);
            rect->left += edge;
            rect->top += edge;
            // A window narrower than its edges has an empty client area at
            // its left or top edge.
            rect->right = rect->right - edge < rect->left ? rect->left : rect->right - edge;
            rect->bottom = rect->bottom - edge < rect->top ? rect->top : rect->bottom - edge;
            return 0;
        }
        case WM_SETFONT:
            SetWindowLongPtrW(hwnd, kFontOffset, static_cast<LONG_PTR>(wParam));
            return 0;
        case WM_GETFONT:
            return GetWindowLongPtrW(hwnd, kFontOffset);
        default:
            return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

const SystemClassRegistration kStaticClass{{.name = L"STATIC",
                                            .proc = StaticProc,
                                            .style = CS_PARENTDC,
                                            .windowExtra = 2 * static_cast<int>(sizeof(LONG_PTR))}};

}  // namespace
}  // namespace vplatform::user
