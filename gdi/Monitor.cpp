#include "gdi/Monitor.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

#include "platform/mfc/AfxWin.h"
#include "platform/user/SystemMetrics.h"

namespace {

using Wide = long long;

bool Fits(Wide value) {
    return value >= std::numeric_limits<LONG>::min() && value <= std::numeric_limits<LONG>::max();
}

// The state FindMatchingMonitorHandle works on, passed through the user value.
struct Search {
    HMONITOR wanted;
    bool found;
};

}  // namespace

HMONITOR Monitor::Detach() {
    const HMONITOR monitor = m_monitor;
    m_monitor = nullptr;
    return monitor;
}

BOOL CALLBACK Monitor::FindMatchingMonitorHandle(HMONITOR monitor, HDC, LPRECT, LPARAM data) {
    auto* search = reinterpret_cast<Search*>(data);
    search->found = monitor == search->wanted;
    return search->found ? FALSE : TRUE;
}

bool Monitor::IsMonitor() const {
    return IsMonitor(m_monitor);
}

bool Monitor::IsMonitor(HMONITOR monitor) {
    if (monitor == nullptr) return false;
    Search search{monitor, false};
    EnumDisplayMonitors(nullptr, nullptr, FindMatchingMonitorHandle, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// GetMonitorInfoW fails for a null handle, a handle of another kind and a
// monitor no longer attached, so it answers IsMonitor at the same time.
bool Monitor::Info(MONITORINFO& info) const {
    info = {};
    info.cbSize = sizeof(MONITORINFO);
    return GetMonitorInfoW(m_monitor, &info) != FALSE;
}

bool Monitor::GetMonitorRect(LPRECT rect) const {
    MONITORINFO info;
    if (rect == nullptr || !Info(info)) return false;
    *rect = info.rcMonitor;
    return true;
}

bool Monitor::GetWorkAreaRect(LPRECT rect) const {
    MONITORINFO info;
    if (rect == nullptr || !Info(info)) return false;
    *rect = info.rcWork;
    return true;
}

std::wstring Monitor::GetName() {
    MONITORINFOEXW info{};
    info.cbSize = sizeof(MONITORINFOEXW);
    if (!GetMonitorInfoW(m_monitor, &info)) return {};
    return std::wstring(info.szDevice, std::find(info.szDevice, info.szDevice + CCHDEVICENAME, L'\0'));
}

bool Monitor::IsPrimaryMonitor() const {
    MONITORINFO info;
    return Info(info) && info.dwFlags == MONITORINFOF_PRIMARY;
}

bool Monitor::IsOnMonitor(POINT point) const {
    RECT area;
    if (!GetMonitorRect(&area)) return false;
    return point.x >= area.left && point.x < area.right && point.y >= area.top && point.y < area.bottom;
}

bool Monitor::IsOnMonitor(const RECT* rect) const {
    RECT area;
    if (rect == nullptr || !GetMonitorRect(&area)) return false;
    auto inside = [&area](LONG x, LONG y) {
        return x >= area.left && x < area.right && y >= area.top && y < area.bottom;
    };
    return inside(rect->left, rect->top) && inside(rect->right, rect->bottom);
}

bool Monitor::IsOnMonitor(const CWnd* window) const {
    if (window == nullptr || !::IsWindow(window->GetSafeHwnd())) return false;
    // A rectangle that could not be read is not tested.
    RECT rect;
    if (!::GetWindowRect(window->GetSafeHwnd(), &rect)) return false;
    return IsOnMonitor(&rect);
}

bool Monitor::CenterWindowToMonitor(CWnd* window, bool useWorkArea) const {
    if (!IsMonitor() || window == nullptr || !::IsWindow(window->GetSafeHwnd())) return false;
    RECT rect;
    if (!::GetWindowRect(window->GetSafeHwnd(), &rect) || !CenterRectToMonitor(&rect, useWorkArea)) return false;
    return window->SetWindowPos(nullptr, rect.left, rect.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE) !=
           FALSE;
}

bool Monitor::CenterRectToMonitor(LPRECT rect, bool useWorkArea) const {
    MONITORINFO info;
    if (rect == nullptr || !Info(info)) return false;
    const RECT& area = useWorkArea ? info.rcWork : info.rcMonitor;
    const Wide width = Wide{rect->right} - rect->left;
    const Wide height = Wide{rect->bottom} - rect->top;
    // Halving truncates toward zero, as C++ division does.
    const Wide left = area.left + (Wide{area.right} - area.left - width) / 2;
    const Wide top = area.top + (Wide{area.bottom} - area.top - height) / 2;
    if (!Fits(left) || !Fits(top) || !Fits(left + width) || !Fits(top + height)) return false;
    *rect = {static_cast<LONG>(left), static_cast<LONG>(top), static_cast<LONG>(left + width),
             static_cast<LONG>(top + height)};
    return true;
}

bool Monitor::MoveAndClipRectToMonitor(bool useWorkArea, CRect& rect) const {
    MONITORINFO info;
    if (!Info(info)) return false;
    const RECT& area = useWorkArea ? info.rcWork : info.rcMonitor;
    Wide left = rect.left;
    Wide top = rect.top;
    Wide right = rect.right;
    Wide bottom = rect.bottom;
    // A left edge at the area's right edge is outside it, as the point rule
    // says; so is a top edge at its bottom edge.
    if (left < area.left || left >= area.right) {
        const Wide width = right - left;
        const float ratio = static_cast<float>(width) / static_cast<float>(Wide{area.right} - area.left);
        if (ratio > 1.25f) return true;  // far too wide: left as it is
        left = area.left;
        right = left + width;
    }
    if (top < area.top || top >= area.bottom) {
        bottom = area.top + (bottom - top);
        top = area.top;
    }
    right = left + std::min(Wide{area.right} - left, right - left);
    bottom = top + std::min(Wide{area.bottom} - top, bottom - top);
    if (!Fits(left) || !Fits(top) || !Fits(right) || !Fits(bottom)) return false;
    rect.SetRect(static_cast<int>(left), static_cast<int>(top), static_cast<int>(right), static_cast<int>(bottom));
    return true;
}

namespace {

BOOL CALLBACK AppendMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM data) {
    reinterpret_cast<std::vector<Monitor>*>(data)->emplace_back(monitor);
    return TRUE;
}

}  // namespace

bool Monitors::Init() {
    m_monitors.clear();
    return EnumDisplayMonitors(nullptr, nullptr, AppendMonitor, reinterpret_cast<LPARAM>(&m_monitors)) != FALSE;
}

const Monitor& Monitors::GetMonitor(std::uint64_t index) const {
    if (index >= m_monitors.size()) throw std::out_of_range("Monitors::GetMonitor: index out of range");
    return m_monitors[index];
}

std::optional<std::uint64_t> Monitors::GetNearestMonitorId(const RECT* rect) const {
    if (rect == nullptr) return std::nullopt;
    const auto nearest = GetNearestMonitor(rect);
    if (!nearest) return std::nullopt;
    const HMONITOR handle = *nearest;
    for (std::uint64_t i = 0; i < m_monitors.size(); ++i) {
        if (static_cast<HMONITOR>(m_monitors[i]) == handle) return i;
    }
    return std::nullopt;
}

std::optional<Monitor> Monitors::GetNearestMonitor(const RECT* rect) {
    if (rect == nullptr) return Monitor();
    if (const HMONITOR handle = MonitorFromRect(rect, MONITOR_DEFAULTTONEAREST)) return Monitor(handle);
    return GetPrimaryMonitor();
}

std::optional<Monitor> Monitors::GetPrimaryMonitor() {
    const HMONITOR handle = MonitorFromPoint({0, 0}, MONITOR_DEFAULTTOPRIMARY);
    if (!Monitor::IsMonitor(handle)) return std::nullopt;
    return Monitor(handle);
}

CRect Monitors::GetVirtualDesktopRect() {
    const int x = GetSystemMetrics(SM_XVIRTUALSCREEN);
    const int y = GetSystemMetrics(SM_YVIRTUALSCREEN);
    const int width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
    const int height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    return CRect(x, y, x + width, y + height);
}
