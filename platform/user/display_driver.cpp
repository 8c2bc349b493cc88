// The display driver's installation, its answers without a display, and the
// windows of other programs it brings in.  The one file of the window layer
// that names the X11 driver.
#include <atomic>
#include <mutex>

#include "platform/WinError.h"
#include "platform/user/Messages.h"
#include "platform/user/internal/DisplayDriver.h"
#include "platform/user/internal/WindowObject.h"

namespace vplatform::x11 {
// The display's own driver (platform/x11/).
user::DisplayDriver& X11DisplayDriver();
}  // namespace vplatform::x11

namespace vplatform::user {
namespace {

// Null: the display's own driver.
std::atomic<DisplayDriver*> g_driver{nullptr};

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

DisplayDriver::~DisplayDriver() = default;

void DisplayDriver::Created(TopLevelWindow&) {}

void DisplayDriver::Destroyed(HWND) {}

void DisplayDriver::Shown(HWND, bool) {}

void DisplayDriver::Moved(HWND, const RECT&) {}

void DisplayDriver::TextChanged(HWND, std::wstring_view) {}

void DisplayDriver::Deliver(const MSG&) {}

std::shared_ptr<Waitable> DisplayDriver::InputSource() {
    return nullptr;
}

bool DisplayDriver::TranslateKey(const MSG&, std::wstring&) {
    return false;
}

BOOL DisplayDriver::PostForeign(HWND, UINT, WPARAM, LPARAM) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

LRESULT DisplayDriver::SendForeign(HWND, UINT, WPARAM, LPARAM) {
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
}

BOOL DisplayDriver::PlaceForeign(HWND, HWND, int, int, int, int, UINT) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

bool DisplayDriver::RefreshForeign(HWND) {
    return true;
}

bool DisplayDriver::EnumTopLevel(std::vector<HWND>&) {
    SetLastError(ERROR_REQUIRES_INTERACTIVE_WINDOWSTATION);
    return false;
}

std::shared_ptr<const DesktopLayout> DisplayDriver::CurrentLayout() {
    SetLastError(ERROR_REQUIRES_INTERACTIVE_WINDOWSTATION);
    return nullptr;
}

bool DisplayDriver::ReadKeyboard(KeyboardState&, bool) {
    SetLastError(ERROR_REQUIRES_INTERACTIVE_WINDOWSTATION);
    return false;
}

std::uint64_t DisplayDriver::OwnClipboard(const std::wstring*) {
    SetLastError(ERROR_REQUIRES_INTERACTIVE_WINDOWSTATION);
    return 0;
}

bool DisplayDriver::StillOwned(std::uint64_t) {
    return false;
}

ClipboardRead DisplayDriver::ReadClipboard(WideText&) {
    SetLastError(ERROR_REQUIRES_INTERACTIVE_WINDOWSTATION);
    return ClipboardRead::Failed;
}

void SetDisplayDriver(DisplayDriver* driver) {
    g_driver.store(driver, std::memory_order_release);
}

UINT DriverMessage() {
    static const UINT message = RegisterWindowMessageW(L"VPlatform_DisplayDriver");
    return message;
}

DisplayDriver* CurrentDisplayDriver() {
    DisplayDriver* driver = g_driver.load(std::memory_order_acquire);
    return driver != nullptr ? driver : &x11::X11DisplayDriver();
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

bool SetDriverData(HWND hwnd, std::shared_ptr<void> data) {
    const auto window = LookupWindow(hwnd);
    if (!window) return false;
    const std::lock_guard lock(window->mutex);
    window->driverData = std::move(data);
    return true;
}

std::shared_ptr<void> DriverData(HWND hwnd) {
    const auto window = LookupWindow(hwnd);
    if (!window) return nullptr;
    const std::lock_guard lock(window->mutex);
    return window->driverData;
}

}  // namespace vplatform::user
