// Display monitors under their Win32 names: EnumDisplayMonitors,
// MonitorFromPoint, MonitorFromRect, MonitorFromWindow, GetMonitorInfoW.
//
// Monitors are those of the X server named by $DISPLAY (RandR monitors), in
// Win32 virtual-screen coordinates: the primary monitor's top-left corner is
// 0,0, others may have negative coordinates; right and bottom edges are
// exclusive.  The primary monitor is RandR's primary one, else the first
// listed; it is enumerated first.  Work areas leave out panels and docks
// (see platform/x11/internal/Desktop.h for the rules) and are never empty.
//
// Handles.  An HMONITOR is an opaque handle of the USER table, never an
// address: a monitor keeps its handle while it stays attached (under the
// same RandR name, whatever its geometry), and a detached monitor's handle
// fails with ERROR_INVALID_MONITOR_HANDLE from then on; it is not given to
// another monitor.  Handles need no release.
//
// The layout is read from the server once and then kept: every call first
// reads, without a round trip, what the server announced, so a change made
// before the call (xrandr, a panel's strut) is seen by it.  One exception
// makes a query cost one look at the display instead of two: a
// GetMonitorInfoW made by the same thread within 5 microseconds of the
// MonitorFromPoint/MonitorFromRect/MonitorFromWindow call that returned its
// handle answers from the layout that call read (a closed handle still
// fails).
//
// Without a display every function fails: null, FALSE or no monitor, with
// ERROR_REQUIRES_INTERACTIVE_WINDOWSTATION.
//
// Threads: every function may be called from any thread.  EnumDisplayMonitors
// calls its callback on the calling thread, with no lock held (the callback
// may call these functions).
#pragma once

#include "platform/PlatformExport.h"
#include "platform/WinError.h"
#include "platform/WinTypes.h"

constexpr DWORD MONITOR_DEFAULTTONULL = 0x00000000u;
constexpr DWORD MONITOR_DEFAULTTOPRIMARY = 0x00000001u;
constexpr DWORD MONITOR_DEFAULTTONEAREST = 0x00000002u;
constexpr DWORD MONITORINFOF_PRIMARY = 0x00000001u;
constexpr int CCHDEVICENAME = 32;

struct MONITORINFO {
    DWORD cbSize;
    RECT rcMonitor;
    RECT rcWork;
    DWORD dwFlags;
};
using LPMONITORINFO = MONITORINFO*;

// wchar_t is 32 bits here, so the record is 168 bytes (104 on Windows).
struct MONITORINFOEXW : MONITORINFO {
    WCHAR szDevice[CCHDEVICENAME];
};
using LPMONITORINFOEXW = MONITORINFOEXW*;

static_assert(sizeof(MONITORINFO) == 40 && sizeof(MONITORINFOEXW) == 168);

using MONITORENUMPROC = BOOL(CALLBACK*)(HMONITOR, HDC, LPRECT, LPARAM);

extern "C" {

// Calls `lpfnEnum` for each monitor, the primary first, with its handle, a
// null device context, its rectangle (intersected with `lprcClip` when
// given; monitors outside it are left out) and `dwData`.  Stops when the
// callback returns FALSE, and then returns FALSE; TRUE when every monitor was
// enumerated.  FALSE with ERROR_INVALID_PARAMETER for a null callback or a
// device context (not supported).
VPLATFORM_API BOOL EnumDisplayMonitors(HDC hdc, LPCRECT lprcClip, MONITORENUMPROC lpfnEnum, LPARAM dwData);

// The monitor holding the point (left and top edges inside, right and bottom
// outside); for a point on none: null (MONITOR_DEFAULTTONULL), the primary
// monitor (MONITOR_DEFAULTTOPRIMARY) or the nearest one
// (MONITOR_DEFAULTTONEAREST).  Null with ERROR_INVALID_FLAGS for another flag.
VPLATFORM_API HMONITOR MonitorFromPoint(POINT pt, DWORD dwFlags);

// The monitor holding the largest part of the rectangle (the first such in
// enumeration order); for a rectangle on none, as MonitorFromPoint's flags
// say.  An empty or inverted rectangle answers for its top-left point, as on
// Windows.  Areas and distances are computed in 64 bits: no rectangle
// overflows.  Null with ERROR_INVALID_PARAMETER for a null `lprc`,
// ERROR_INVALID_FLAGS for another flag.
VPLATFORM_API HMONITOR MonitorFromRect(LPCRECT lprc, DWORD dwFlags);

// The monitor of a window: MonitorFromRect of its window rectangle
// (GetWindowRect; another program's window with its frame).  A null window
// is on no monitor: the primary monitor for MONITOR_DEFAULTTOPRIMARY and
// MONITOR_DEFAULTTONEAREST, null for MONITOR_DEFAULTTONULL.  Null with
// ERROR_INVALID_WINDOW_HANDLE for a bad window (whatever the flags),
// ERROR_INVALID_FLAGS for another flag.
VPLATFORM_API HMONITOR MonitorFromWindow(HWND hwnd, DWORD dwFlags);

// Fills `lpmi` (a MONITORINFO or MONITORINFOEXW, told apart by cbSize): the
// monitor rectangle, the work area, MONITORINFOF_PRIMARY for the primary
// monitor and, for MONITORINFOEXW, the RandR name of the monitor as the
// device name (at most 31 characters, NUL-terminated).  FALSE with
// ERROR_INVALID_MONITOR_HANDLE for a null, forged or detached monitor,
// ERROR_INVALID_PARAMETER for a null `lpmi` or another cbSize (the Windows
// size of MONITORINFOEXW, 104, too: the record here is larger).
VPLATFORM_API BOOL GetMonitorInfoW(HMONITOR hMonitor, LPMONITORINFO lpmi);
}
