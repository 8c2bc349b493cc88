// The X11 display driver: the process's top-level windows and other
// programs' windows (internal/Windows.h), the monitors, keys and clipboard
// (internal/Desktop.h), behind the window layer's one interface.
#include <cstdlib>
#include <mutex>

#include "platform/WinError.h"
#include "platform/user/internal/DisplayDriver.h"
#include "platform/x11/internal/Connection.h"
#include "platform/x11/internal/Desktop.h"
#include "platform/x11/internal/Windows.h"

namespace vplatform::x11 {

user::DisplayDriver& X11DisplayDriver();

namespace {

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

class X11Driver final : public user::DisplayDriver {
public:
    X11Driver() {
        WatchLayout();
        SharedDisplay::AddWatcher(&m_foreign);
    }

    // --- The process's own windows ---------------------------------------------------

    void Created(user::TopLevelWindow& window) override {
        const KeepLastError keep;
        const auto origin = CurrentOrigin();
        if (!origin) return;
        static std::once_flag once;
        std::call_once(once, [] { std::atexit([] { static_cast<X11Driver&>(X11DisplayDriver()).m_own.Stop(); }); });
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

    bool EnumTopLevel(std::vector<HWND>& windows) override { return m_foreign.EnumTopLevel(windows); }

    bool RefreshForeign(HWND hwnd) override {
        const KeepLastError keep;
        return m_foreign.Refresh(hwnd);
    }

    BOOL PostForeign(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override {
        return m_foreign.Post(hwnd, message, wParam, lParam);
    }

    BOOL PlaceForeign(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) override {
        return m_foreign.Place(hwnd, insertAfter, x, y, cx, cy, flags);
    }

    // --- Monitors, keys, the clipboard ----------------------------------------------

    std::shared_ptr<const DesktopLayout> CurrentLayout() override { return x11::CurrentLayout(); }

    bool ReadKeyboard(KeyboardState& state, bool withPointer) override { return x11::ReadKeyboard(state, withPointer); }

    std::uint64_t OwnClipboard(const std::wstring* text) override { return x11::OwnClipboard(text); }

    bool StillOwned(std::uint64_t ticket) override { return x11::StillOwned(ticket); }

    ClipboardRead ReadClipboard(WideText& text) override { return x11::ReadClipboard(text); }

private:
    OwnWindows m_own;
    ForeignWindows m_foreign{m_own};
};

}  // namespace

user::DisplayDriver& X11DisplayDriver() {
    static auto* driver = new X11Driver;  // never destroyed, as the shared connection
    return *driver;
}

}  // namespace vplatform::x11
