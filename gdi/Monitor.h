// Monitor geometry for placing windows: Monitor wraps one display monitor
// handle, Monitors a snapshot of all monitors.
//
// Coordinates are virtual-screen pixels (the primary monitor's top-left
// corner is 0,0; other monitors may lie at negative coordinates).  Every
// query first checks that the handle still names an attached monitor; a
// detached monitor's queries fail (false, empty) without touching anything.
// Nothing here logs or throws, except Monitors::GetMonitor for a bad index.
//
// Threads: a Monitor or Monitors object is used by one thread at a time; the
// static functions may be called from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "VLibExport.h"
#include "platform/WinTypes.h"
#include "platform/mfc/AfxGeometry.h"
#include "platform/user/Monitor.h"

class CWnd;

class VLIB_API Monitor {
public:
    Monitor() = default;
    Monitor(HMONITOR monitor) : m_monitor(monitor) {}  // NOLINT: a handle converts, as on Windows
    Monitor(const Monitor&) = default;
    Monitor(Monitor&&) = default;
    Monitor& operator=(const Monitor&) = default;
    Monitor& operator=(Monitor&&) = default;
    ~Monitor() = default;

    operator HMONITOR() const { return m_monitor; }  // NOLINT
    void Attach(HMONITOR monitor) { m_monitor = monitor; }
    HMONITOR Detach();

    // True when the handle is not null and names a currently attached
    // monitor (found by enumerating the monitors).
    bool IsMonitor() const;
    static bool IsMonitor(HMONITOR monitor);

    // The monitor rectangle and the work area (the monitor without panels
    // and docks); false for a null pointer or a monitor that is gone.
    bool GetMonitorRect(LPRECT rect) const;
    bool GetWorkAreaRect(LPRECT rect) const;
    // The device name (here the RandR monitor name), or empty.
    std::wstring GetName();
    bool IsPrimaryMonitor() const;

    // The point lies in the monitor rectangle (left and top edges inside,
    // right and bottom outside).
    bool IsOnMonitor(POINT point) const;
    // Both corners (left, top) and (right, bottom) lie in the monitor
    // rectangle by the point rule: a rectangle equal to the monitor's is not
    // on it.  False for a null pointer.
    bool IsOnMonitor(const RECT* rect) const;
    // The window rectangle (GetWindowRect) by the rectangle rule.  False for
    // a null pointer, a handle that is no window, or a rectangle that cannot
    // be read.
    bool IsOnMonitor(const CWnd* window) const;

    // Centres the rectangle on the monitor (its work area when `useWorkArea`),
    // keeping its size; halves round toward zero, so a rectangle larger than
    // the area gets a negative offset.  Computed in 64 bits: false, with the
    // rectangle unchanged, when a result does not fit a LONG, for a null
    // pointer or a monitor that is gone.
    bool CenterRectToMonitor(LPRECT rect, bool useWorkArea) const;
    // Centres the window on the monitor (CenterRectToMonitor of its window
    // rectangle) and moves it there with CWnd::SetWindowPos, keeping its
    // size, Z order and activation.  False, with nothing moved, for a monitor
    // that is gone, a null pointer, a handle that is no window, a window
    // rectangle that cannot be read or a centred rectangle that does not
    // fit; else whether SetWindowPos succeeded.  Call it on a thread that may
    // move the window (its own).
    bool CenterWindowToMonitor(CWnd* window, bool useWorkArea) const;

    // Pushes `rect` onto the monitor (its work area when `useWorkArea`) and
    // cuts off what sticks out to the right and below:
    //   - a left edge outside the area (left of it, or at or beyond its right
    //     edge) moves to the area's left edge, keeping the width; but a
    //     rectangle more than 1.25 times as wide as the area is left wholly
    //     unchanged, and true is returned;
    //   - a top edge outside the area (above it, or at or below its bottom
    //     edge) moves to the area's top edge, keeping the height;
    //   - the right and bottom edges are then cut back to the area's.
    // Computed in 64 bits: false, with the rectangle unchanged, when a result
    // does not fit a LONG or the monitor is gone.
    bool MoveAndClipRectToMonitor(bool useWorkArea, CRect& rect) const;

private:
    static BOOL CALLBACK FindMatchingMonitorHandle(HMONITOR monitor, HDC dc, LPRECT rect, LPARAM data);
    // The monitor's record; false when the monitor is gone.
    bool Info(MONITORINFO& info) const;

    HMONITOR m_monitor = nullptr;
};

class VLIB_API Monitors {
public:
    // Empties the list and fills it with the current monitors, in the
    // system's order (the primary first).  True when the enumeration
    // succeeded; the list keeps what was enumerated either way.
    bool Init();
    std::uint64_t GetCount() const { return m_monitors.size(); }
    // Throws std::out_of_range for an index not below GetCount().
    const Monitor& GetMonitor(std::uint64_t index) const;

    // The index in the list of the monitor nearest to the rectangle; none for
    // a null pointer, when no monitor is found, or when the list does not hold
    // it (filled before the monitor was attached, or never filled).
    std::optional<std::uint64_t> GetNearestMonitorId(const RECT* rect) const;
    // The monitor nearest to the rectangle, else the primary one; a null
    // pointer gives a Monitor holding a null handle.
    static std::optional<Monitor> GetNearestMonitor(const RECT* rect);
    // The primary monitor (the one at 0,0), if attached.
    static std::optional<Monitor> GetPrimaryMonitor();
    // The bounds of all monitors together.
    static CRect GetVirtualDesktopRect();

private:
    std::vector<Monitor> m_monitors;
};
