// The window backend's installation, its default answers, and the windows of
// other programs it brings in.
#include <atomic>
#include <mutex>

#include "platform/kernel/WinError.h"
#include "platform/user/Messages.h"
#include "platform/user/internal/WindowBackend.h"
#include "platform/user/internal/WindowObject.h"
#include "platform/x11/internal/Windows.h"

namespace vplatform::user {
namespace {

// Null: the display's own backend.
std::atomic<WindowBackend*> g_backend{nullptr};

std::shared_ptr<Window> ForeignOne(HWND hwnd) {
    auto window = UserHandles().Find<Window>(hwnd);
    if (!window || !window->foreign) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    return window;
}

void SetOwner(Window& window, HWND owner) {
    const std::lock_guard tree(TreeMutex());
    window.owner = owner;
}

void Describe(Window& window, const ForeignWindow& foreign) {
    window.style = foreign.style;
    window.exStyle = foreign.exStyle;
    window.rect = foreign.rect;
    window.client = foreign.rect;
    window.text = foreign.title;
    window.className = foreign.className;
}

}  // namespace

WindowBackend::~WindowBackend() = default;

void WindowBackend::Created(TopLevelWindow&) {}

void WindowBackend::Destroyed(HWND) {}

void WindowBackend::Shown(HWND, bool) {}

void WindowBackend::Moved(HWND, const RECT&) {}

void WindowBackend::TextChanged(HWND, std::wstring_view) {}

void WindowBackend::Deliver(const MSG&) {}

std::shared_ptr<Waitable> WindowBackend::InputSource() {
    return nullptr;
}

bool WindowBackend::TranslateKey(const MSG&, std::wstring&) {
    return false;
}

BOOL WindowBackend::PostForeign(HWND, UINT, WPARAM, LPARAM) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

LRESULT WindowBackend::SendForeign(HWND, UINT, WPARAM, LPARAM) {
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
}

BOOL WindowBackend::PlaceForeign(HWND, HWND, int, int, int, int, UINT) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

bool WindowBackend::RefreshForeign(HWND) {
    return true;
}

bool WindowBackend::EnumTopLevel(std::vector<HWND>&) {
    SetLastError(ERROR_REQUIRES_INTERACTIVE_WINDOWSTATION);
    return false;
}

void SetWindowBackend(WindowBackend* backend) {
    g_backend.store(backend, std::memory_order_release);
}

UINT BackendMessage() {
    static const UINT message = RegisterWindowMessageW(L"VPlatform_WindowBackend");
    return message;
}

WindowBackend* CurrentWindowBackend() {
    WindowBackend* backend = g_backend.load(std::memory_order_acquire);
    return backend != nullptr ? backend : &x11::DisplayWindowBackend();
}

HWND AddForeignWindow(const ForeignWindow& foreign) {
    auto window = std::make_shared<Window>();
    window->foreign = true;
    window->processId = foreign.processId;
    window->threadId = foreign.threadId;
    Describe(*window, foreign);
    window->owner = foreign.owner;
    const HWND hwnd = UserHandles().Insert(window);
    if (hwnd != nullptr) window->handle = hwnd;
    return hwnd;
}

bool UpdateForeignWindow(HWND hwnd, const ForeignWindow& foreign) {
    const auto window = ForeignOne(hwnd);
    if (!window) return false;
    SetOwner(*window, foreign.owner);
    const std::lock_guard lock(window->mutex);
    Describe(*window, foreign);
    return true;
}

bool RemoveForeignWindow(HWND hwnd) {
    if (!ForeignOne(hwnd)) return false;
    return UserHandles().Remove<Window>(hwnd) != nullptr;
}

bool SetBackendData(HWND hwnd, std::shared_ptr<void> data) {
    const auto window = LookupWindow(hwnd);
    if (!window) return false;
    const std::lock_guard lock(window->mutex);
    window->backendData = std::move(data);
    return true;
}

std::shared_ptr<void> BackendData(HWND hwnd) {
    const auto window = LookupWindow(hwnd);
    if (!window) return nullptr;
    const std::lock_guard lock(window->mutex);
    return window->backendData;
}

}  // namespace vplatform::user
