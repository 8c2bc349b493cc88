// Monitors: handles of the USER table for the monitors of the display
// driver's current layout, and the Win32 queries over them.
#include "platform/user/Monitor.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/internal/HandleTable.h"
#include "platform/user/SystemMetrics.h"
#include "platform/user/Window.h"
#include "platform/user/internal/DisplayDriver.h"
#include "platform/user/internal/MonitorQuery.h"

namespace vplatform {
namespace {

class MonitorObject final : public HandleObject {
public:
    static constexpr ObjectType kType = ObjectType::Monitor;
};

// The layout with a handle for each of its monitors.
struct Snapshot {
    std::shared_ptr<const user::DesktopLayout> layout;
    std::vector<HMONITOR> handles;  // by the layout's index

    std::optional<std::size_t> IndexOf(HMONITOR handle) const {
        const auto it = std::find(handles.begin(), handles.end(), handle);
        if (it == handles.end()) return std::nullopt;
        return static_cast<std::size_t>(it - handles.begin());
    }
};

// The monitors' handles by name.  A layout with other monitors gives new
// handles to the new ones and closes those of the monitors gone.  Snapshots
// are shared and never changed, so a query copies no list.
class Monitors {
public:
    // The current layout and its handles; null with the last error set.
    std::shared_ptr<const Snapshot> Current() {
        auto layout = user::CurrentDisplayDriver()->CurrentLayout();
        if (!layout) return nullptr;
        std::vector<std::shared_ptr<HandleObject>> gone;  // released outside the lock
        const std::lock_guard lock(m_mutex);
        if (m_snapshot && m_snapshot->layout->generation == layout->generation) return m_snapshot;
        std::map<std::wstring, HMONITOR> current;
        std::vector<HMONITOR> handles;
        for (const auto& monitor : layout->monitors) {
            HMONITOR handle = nullptr;
            if (const auto it = m_byName.find(monitor.name); it != m_byName.end()) {
                handle = it->second;
            } else if ((handle = UserHandles().Insert(std::make_shared<MonitorObject>())) == nullptr) {
                // Beyond the quota: the new handles go, the old ones stay.
                for (const auto& [name, made] : current) {
                    if (!m_byName.contains(name)) gone.push_back(UserHandles().Remove<MonitorObject>(made));
                }
                return nullptr;
            }
            current[monitor.name] = handle;
            handles.push_back(handle);
        }
        for (const auto& [name, handle] : m_byName) {
            if (!current.contains(name)) gone.push_back(UserHandles().Remove<MonitorObject>(handle));
        }
        m_byName = std::move(current);
        m_snapshot = std::make_shared<const Snapshot>(Snapshot{std::move(layout), std::move(handles)});
        return m_snapshot;
    }

private:
    std::mutex m_mutex;
    std::map<std::wstring, HMONITOR> m_byName;
    std::shared_ptr<const Snapshot> m_snapshot;
};

Monitors& TheMonitors() {
    static auto* monitors = new Monitors;  // never destroyed: handles outlive static destruction
    return *monitors;
}

bool Fail(DWORD error) {
    SetLastError(error);
    return false;
}

// A query is written as a MonitorFrom… call and a GetMonitorInfoW of the
// handle it gave.  The second call, made by the same thread right after,
// answers from the layout the first one has just read, instead of asking the
// display again: nothing the server can announce in so short a time can have
// reached the caller by another way.
struct LastAnswer {
    HMONITOR handle = nullptr;
    std::shared_ptr<const Snapshot> snapshot;
    std::chrono::steady_clock::time_point at;
};
constexpr auto kOneQuery = std::chrono::microseconds(5);
thread_local LastAnswer t_lastAnswer;

HMONITOR Answer(std::shared_ptr<const Snapshot> snapshot, std::optional<std::size_t> index) {
    if (!index) return nullptr;
    const HMONITOR handle = snapshot->handles[*index];
    t_lastAnswer = {handle, std::move(snapshot), std::chrono::steady_clock::now()};
    return handle;
}

// The layout for a query of `handle`: the one just answered from when the
// handle comes from this thread's last MonitorFrom… call, made a moment ago
// (once), else the current one.
std::shared_ptr<const Snapshot> LayoutFor(HMONITOR handle) {
    LastAnswer& last = t_lastAnswer;
    if (last.handle == handle && handle != nullptr) {
        last.handle = nullptr;
        if (std::chrono::steady_clock::now() - last.at < kOneQuery) return std::move(last.snapshot);
    }
    return TheMonitors().Current();
}

// The snapshot and index of a monitor handle; null with the last error set.
std::shared_ptr<const Snapshot> Find(HMONITOR handle, std::size_t& index) {
    if (!UserHandles().Lookup<MonitorObject>(handle, ERROR_INVALID_MONITOR_HANDLE)) return nullptr;
    auto snapshot = LayoutFor(handle);
    if (!snapshot) return nullptr;
    const auto found = snapshot->IndexOf(handle);
    if (!found) {
        SetLastError(ERROR_INVALID_MONITOR_HANDLE);
        return nullptr;
    }
    index = *found;
    return snapshot;
}

bool ValidFlags(DWORD flags) {
    if (flags <= MONITOR_DEFAULTTONEAREST) return true;
    return Fail(ERROR_INVALID_FLAGS);
}

}  // namespace
}  // namespace vplatform

using namespace vplatform;

extern "C" {

BOOL EnumDisplayMonitors(HDC hdc, LPCRECT lprcClip, MONITORENUMPROC lpfnEnum, LPARAM dwData) {
    if (hdc != nullptr || lpfnEnum == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    const auto snapshot = TheMonitors().Current();
    if (!snapshot) return FALSE;
    for (std::size_t i = 0; i < snapshot->handles.size(); ++i) {
        RECT rect = snapshot->layout->monitors[i].rect;
        if (lprcClip != nullptr) {
            rect = {std::max(rect.left, lprcClip->left), std::max(rect.top, lprcClip->top),
                    std::min(rect.right, lprcClip->right), std::min(rect.bottom, lprcClip->bottom)};
            if (rect.right <= rect.left || rect.bottom <= rect.top) continue;
        }
        if (!lpfnEnum(snapshot->handles[i], nullptr, &rect, dwData)) return FALSE;
    }
    return TRUE;
}

HMONITOR MonitorFromPoint(POINT pt, DWORD dwFlags) {
    if (!ValidFlags(dwFlags)) return nullptr;
    auto snapshot = TheMonitors().Current();
    if (!snapshot) return nullptr;
    const auto index = MonitorOfPoint(*snapshot->layout, pt, dwFlags);
    return Answer(std::move(snapshot), index);
}

HMONITOR MonitorFromRect(LPCRECT lprc, DWORD dwFlags) {
    if (lprc == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (!ValidFlags(dwFlags)) return nullptr;
    auto snapshot = TheMonitors().Current();
    if (!snapshot) return nullptr;
    const auto index = MonitorOfRect(*snapshot->layout, *lprc, dwFlags);
    return Answer(std::move(snapshot), index);
}

HMONITOR MonitorFromWindow(HWND hwnd, DWORD dwFlags) {
    if (!ValidFlags(dwFlags)) return nullptr;
    if (hwnd == nullptr) {
        // No window is on no monitor: the primary one, or none when asked for.
        if (dwFlags == MONITOR_DEFAULTTONULL) return nullptr;
        const auto snapshot = TheMonitors().Current();
        return snapshot ? snapshot->handles.front() : nullptr;
    }
    RECT rect;
    if (!GetWindowRect(hwnd, &rect)) return nullptr;
    return MonitorFromRect(&rect, dwFlags);
}

BOOL GetMonitorInfoW(HMONITOR hMonitor, LPMONITORINFO lpmi) {
    if (lpmi == nullptr || (lpmi->cbSize != sizeof(MONITORINFO) && lpmi->cbSize != sizeof(MONITORINFOEXW))) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    std::size_t index = 0;
    const auto snapshot = Find(hMonitor, index);
    if (!snapshot) return FALSE;
    const auto& monitor = snapshot->layout->monitors[index];
    lpmi->rcMonitor = monitor.rect;
    lpmi->rcWork = monitor.work;
    lpmi->dwFlags = monitor.primary ? MONITORINFOF_PRIMARY : 0;
    if (lpmi->cbSize == sizeof(MONITORINFOEXW)) {
        auto* extended = static_cast<MONITORINFOEXW*>(lpmi);
        const std::size_t length = std::min<std::size_t>(monitor.name.size(), CCHDEVICENAME - 1);
        std::copy_n(monitor.name.begin(), length, extended->szDevice);
        std::fill(extended->szDevice + length, extended->szDevice + CCHDEVICENAME, L'\0');
    }
    return TRUE;
}

int GetSystemMetrics(int nIndex) {
    if (nIndex != SM_CXSCREEN && nIndex != SM_CYSCREEN && (nIndex < SM_XVIRTUALSCREEN || nIndex > SM_CMONITORS)) {
        return 0;
    }
    const auto layout = user::CurrentDisplayDriver()->CurrentLayout();
    if (!layout) return 0;
    const RECT& primary = layout->monitors.front().rect;
    const RECT& bounds = layout->bounds;
    switch (nIndex) {
        case SM_CXSCREEN:
            return primary.right - primary.left;
        case SM_CYSCREEN:
            return primary.bottom - primary.top;
        case SM_XVIRTUALSCREEN:
            return bounds.left;
        case SM_YVIRTUALSCREEN:
            return bounds.top;
        case SM_CXVIRTUALSCREEN:
            return bounds.right - bounds.left;
        case SM_CYVIRTUALSCREEN:
            return bounds.bottom - bounds.top;
        default:
            return static_cast<int>(layout->monitors.size());
    }
}
}
